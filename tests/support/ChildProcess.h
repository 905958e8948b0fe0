#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Descriptor.h"

// A program started for a test: a helper server, curl, the agent or another
// program of the build. The destructor ends it by its process id, unless it has ended by
// itself, and reaps it.
class ChildProcess {
  public:
    // Where the program runs and where its standard streams go.
    struct TOptions {
        std::string directory;  // empty: the test's working directory
        std::string input = "/dev/null";
        std::string output;  // empty: a pipe the test reads with ReadLine
        std::string error;   // empty: the test's own; the output's path: the same stream

        // RLIMIT_NOFILE of the program; 0: the test's own.
        unsigned openFileLimit = 0;
    };

    // Runs argv[0] (looked up on PATH unless it holds a "/") with its output
    // in a pipe.
    explicit ChildProcess(const std::vector<std::string>& argv);
    ChildProcess(const std::vector<std::string>& argv, const TOptions& options);
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of the program's output without its line end; empty when
    // the program ends or prints nothing within timeoutMsec.
    std::string ReadLine(int timeoutMsec = 10000);

    // The exit status once the program has ended within timeoutMsec (the
    // negated signal number when a signal ended it); nothing while it runs.
    std::optional<int> WaitForExit(int timeoutMsec);

    // The process id, for looking the program up in /proc.
    pid_t Pid() const { return pid; }

  private:
    bool HasEnded();

    pid_t pid = -1;
    TDescriptor output;  // the pipe from the program's output, when it has one
    std::string pending;
    std::optional<int> exitStatus;
};

// The path of a program of the build (TEST_TOOLS_DIR).
std::string ToolPath(const std::string& name);
