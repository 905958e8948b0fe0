#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

// The agent program copied into a directory of its own, as it is installed,
// and run there with its output caught in "agent.out". Ended by its pid when
// the object goes.
class TAgentProgram {
  public:
    explicit TAgentProgram(const TempDir& directory);

    // Runs the agent with these arguments and, when not 0, at most that many
    // open descriptors.
    void Start(const std::vector<std::string>& arguments = {}, unsigned openFileLimit = 0);
    // The exit status once the agent has ended within limit.
    std::optional<int> WaitForExit(std::chrono::milliseconds limit) {
        return m_program->WaitForExit(static_cast<int>(limit.count()));
    }
    // Ends the agent by its pid, if it runs.
    void Stop() { m_program.reset(); }
    std::string Output() const { return m_directory.ReadFile("agent.out"); }
    // The running agent's process id.
    pid_t Pid() const { return m_program->Pid(); }

  private:
    const TempDir& m_directory;
    std::unique_ptr<ChildProcess> m_program;
};
