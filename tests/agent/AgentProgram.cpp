#include "AgentProgram.h"

#include <filesystem>

TAgentProgram::TAgentProgram(const TempDir& directory) : m_directory(directory) {
    std::filesystem::copy_file(ToolPath("agent"), directory / "agent",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(directory / "agent", std::filesystem::perms::owner_all);
}

void TAgentProgram::Start(const std::vector<std::string>& arguments, unsigned openFileLimit) {
    const std::string output = m_directory / "agent.out";
    std::vector<std::string> argv{m_directory / "agent"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    m_program = std::make_unique<ChildProcess>(
        argv, ChildProcess::TOptions{.directory = m_directory.Path(),
                                     .output = output,
                                     .error = output,
                                     .openFileLimit = openFileLimit});
}
