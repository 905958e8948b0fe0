#include "Programs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "support/Loopback.h"

namespace {

// Opens path onto the descriptor target in a child about to exec.
void Redirect(const std::string& path, int flags, int target) {
    int fd = open(path.c_str(), flags, 0644);
    if (fd < 0 || dup2(fd, target) < 0) {
        _exit(127);
    }
    close(fd);
}

}  // namespace

TProgram::~TProgram() {
    if (m_pid > 0 && !HasEnded()) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

void TProgram::Start(const std::string& path, const std::vector<std::string>& arguments,
                     const std::string& directory, const TFiles& files) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    m_pid = fork();
    if (m_pid == 0) {
        const int writing = O_WRONLY | O_CREAT | O_TRUNC;
        const std::string output = files.output.empty() ? "/dev/null" : files.output;
        Redirect(files.input, O_RDONLY, STDIN_FILENO);
        Redirect(output, writing, STDOUT_FILENO);
        if (files.error.empty()) {
            dup2(STDOUT_FILENO, STDERR_FILENO);
        } else {
            Redirect(files.error, writing, STDERR_FILENO);
        }
        if (chdir(directory.c_str()) != 0) {
            _exit(127);
        }
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    ASSERT_GT(m_pid, 0);
}

bool TProgram::WaitForExit(std::chrono::milliseconds limit, int& status) {
    bool ended = WaitFor([this] { return HasEnded(); }, limit);
    status = m_status;
    return ended;
}

bool TProgram::HasEnded() {
    int status = 0;
    if (!m_ended && waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_ended = true;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    return m_ended;
}

std::string ToolPath(const std::string& name) {
    const char* tools = std::getenv("TEST_TOOLS_DIR");
    EXPECT_NE(tools, nullptr) << "TEST_TOOLS_DIR is not set";
    return std::filesystem::absolute(std::string(tools ? tools : ".") + "/" + name);
}

TAgentProgram::TAgentProgram(const TempDir& directory) : m_directory(directory) {
    std::filesystem::copy_file(ToolPath("agent"), directory / "agent",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(directory / "agent", std::filesystem::perms::owner_all);
}

void TAgentProgram::Start() {
    m_program.Start(m_directory / "agent", {}, m_directory.Path(),
                    {.input = "/dev/null", .output = m_directory / "agent.out", .error = ""});
}
