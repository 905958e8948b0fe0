#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

// A helper program started for a test (a small server, say). Its standard
// output is a pipe the test can read lines from. The destructor ends the
// program by its process id and reaps it.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of the program's output without its line end; empty when
    // the program ends or prints nothing within timeoutMsec.
    std::string ReadLine(int timeoutMsec = 10000);

  private:
    pid_t pid = -1;
    int output = -1;
    std::string pending;
};
