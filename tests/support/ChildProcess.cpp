#include "ChildProcess.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <stdexcept>

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    int pipeEnds[2];
    if (argv.empty() || pipe(pipeEnds) != 0) {
        throw std::runtime_error("cannot start a child process");
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    output = pipeEnds[0];
    if (pid < 0) {
        close(output);
        throw std::runtime_error("cannot fork a child process");
    }
}

ChildProcess::~ChildProcess() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (output >= 0) {
        close(output);
    }
}

std::string ChildProcess::ReadLine(int timeoutMsec) {
    for (;;) {
        const std::size_t end = pending.find('\n');
        if (end != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return line;
        }
        pollfd ready{output, POLLIN, 0};
        if (poll(&ready, 1, timeoutMsec) <= 0) {
            return "";
        }
        char buffer[256];
        const ssize_t n = read(output, buffer, sizeof buffer);
        if (n <= 0) {
            return "";
        }
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}
