#include "ChildProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/Loopback.h"

namespace {

// Opens path onto the descriptor target in a child about to exec.
void Redirect(const std::string& path, int flags, int target) {
    const int fd = open(path.c_str(), flags, 0644);
    if (fd < 0 || dup2(fd, target) < 0) {
        _exit(127);
    }
    close(fd);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) : ChildProcess(argv, TOptions{}) {}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const TOptions& options) {
    const bool toPipe = options.output.empty();
    int pipeEnds[2] = {-1, -1};
    if (argv.empty() || (toPipe && pipe(pipeEnds) != 0)) {
        throw std::runtime_error("cannot start a child process");
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    pid = fork();
    if (pid == 0) {
        Redirect(options.input, O_RDONLY, STDIN_FILENO);
        if (toPipe) {
            dup2(pipeEnds[1], STDOUT_FILENO);
            close(pipeEnds[0]);
            close(pipeEnds[1]);
        } else {
            Redirect(options.output, O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO);
        }
        if (!options.error.empty() && options.error == options.output) {
            dup2(STDOUT_FILENO, STDERR_FILENO);
        } else if (!options.error.empty()) {
            Redirect(options.error, O_WRONLY | O_CREAT | O_TRUNC, STDERR_FILENO);
        }
        if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) {
            _exit(127);
        }
        // Only the standard streams go along: the test's own descriptors
        // (a pseudo-terminal's ends, sockets) held open in the child would
        // keep their far ends from ever seeing a close.
        close_range(STDERR_FILENO + 1, ~0U, 0);
        if (options.openFileLimit != 0) {
            const rlimit limit{options.openFileLimit, options.openFileLimit};
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
                _exit(127);
            }
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    if (toPipe) {
        close(pipeEnds[1]);
        output.Reset(pipeEnds[0]);
    }
    if (pid < 0) {
        output.Reset();
        throw std::runtime_error("cannot fork a child process");
    }
}

ChildProcess::~ChildProcess() {
    if (pid > 0 && !HasEnded()) {
        kill(pid, SIGTERM);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
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
        pollfd ready{output.Get(), POLLIN, 0};
        if (!output.IsOpen() || poll(&ready, 1, timeoutMsec) <= 0) {
            return "";
        }
        char buffer[256];
        const ssize_t n = read(output.Get(), buffer, sizeof buffer);
        if (n <= 0) {
            return "";
        }
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

std::optional<int> ChildProcess::WaitForExit(int timeoutMsec) {
    WaitFor([this] { return HasEnded(); }, std::chrono::milliseconds(timeoutMsec));
    return exitStatus;
}

bool ChildProcess::HasEnded() {
    int status = 0;
    if (!exitStatus && waitpid(pid, &status, WNOHANG) == pid) {
        exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    return exitStatus.has_value();
}

std::string ToolPath(const std::string& name) {
    const char* tools = std::getenv("TEST_TOOLS_DIR");
    EXPECT_NE(tools, nullptr) << "TEST_TOOLS_DIR is not set";
    return std::filesystem::absolute(std::string(tools ? tools : ".") + "/" + name);
}
