#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// A helper program started for a test (a small server, the agent, a tool).
// Its standard output is a pipe the test can read lines from. The destructor
// ends the program by its process id, if it still runs, and reaps it.
class ChildProcess {
  public:
    // Runs argv (looked up in PATH) in workingDirectory, or in the test's own
    // directory when that is empty.
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::string& workingDirectory = "");
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of the program's output without its line end; empty when
    // the program ends or prints nothing within timeoutMsec.
    std::string ReadLine(int timeoutMsec = 10000);

    // The exit status once the program has ended within timeoutMsec (the
    // negated signal number when a signal ended it); nothing while it runs.
    std::optional<int> WaitForExit(int timeoutMsec);

  private:
    pid_t m_pid = -1;
    int m_output = -1;
    std::string m_pending;
    std::optional<int> m_status;
};
