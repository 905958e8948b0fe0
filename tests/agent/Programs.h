#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/TempDir.h"

// A program of the build (from TEST_TOOLS_DIR) run by a test: in a directory
// of the test's choosing, with standard input, output and error in files.
// Ended by its pid when the object goes.
class TProgram {
  public:
    struct TFiles {
        std::string input = "/dev/null";
        std::string output;  // standard output; empty: /dev/null
        std::string error;   // standard error; empty: the same as output
    };

    TProgram() = default;
    ~TProgram();
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;

    // Runs path with arguments in directory.
    void Start(const std::string& path, const std::vector<std::string>& arguments,
               const std::string& directory, const TFiles& files);
    // Whether the program ended within limit; its exit status, or minus the
    // signal that ended it, in status.
    bool WaitForExit(std::chrono::milliseconds limit, int& status);
    bool HasEnded();

  private:
    pid_t m_pid = -1;
    bool m_ended = false;
    int m_status = -1;
};

// The path of a program of the build.
std::string ToolPath(const std::string& name);

// The agent program copied into a directory of its own, as it is installed,
// and run there with its output caught in "agent.out".
class TAgentProgram {
  public:
    explicit TAgentProgram(const TempDir& directory);

    void Start();
    bool WaitForExit(std::chrono::milliseconds limit, int& status) {
        return m_program.WaitForExit(limit, status);
    }
    std::string Output() const { return m_directory.ReadFile("agent.out"); }

  private:
    const TempDir& m_directory;
    TProgram m_program;
};
