#include "ChildProcess.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <stdexcept>
#include <thread>

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::string& workingDirectory) {
    int pipeEnds[2];
    if (argv.empty() || pipe(pipeEnds) != 0) {
        throw std::runtime_error("cannot start a child process");
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    m_pid = fork();
    if (m_pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) {
            _exit(127);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    m_output = pipeEnds[0];
    if (m_pid < 0) {
        close(m_output);
        throw std::runtime_error("cannot fork a child process");
    }
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0 && !m_status) {
        kill(m_pid, SIGTERM);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_output >= 0) {
        close(m_output);
    }
}

std::string ChildProcess::ReadLine(int timeoutMsec) {
    for (;;) {
        const std::size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return line;
        }
        pollfd ready{m_output, POLLIN, 0};
        if (poll(&ready, 1, timeoutMsec) <= 0) {
            return "";
        }
        char buffer[256];
        const ssize_t n = read(m_output, buffer, sizeof buffer);
        if (n <= 0) {
            return "";
        }
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}

std::optional<int> ChildProcess::WaitForExit(int timeoutMsec) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMsec);
    while (!m_status) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        } else if (Clock::now() >= deadline) {
            break;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return m_status;
}
