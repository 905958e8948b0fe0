#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "ProjectVersion.h"
#include "agent/AgentApplication.h"
#include "agent/AgentStatus.h"
#include "agent/CaptureRecorder.h"
#include "agent/CommandLine.h"
#include "agent/DirectoryLock.h"
#include "agent/TraceProblems.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "platform/linux/LinFileSystem.h"
#include "platform/linux/LinSystem.h"
#include "platform/linux/LoggerToFile.h"
#include "platform/linux/RS232Interface.h"
#include "platform/linux/StopSignals.h"

// Without arguments the agent reads its settings beside its executable, serves until the
// process is terminated and prints nothing but problems a person must fix. Exit status 2
// stands for a bad command line, a bad "pinpad.ini" or directories that another agent
// serves. With --status it prints the status file that an agent of the same directories
// writes, and ends. SIGTERM and SIGINT end it after it has closed the line and told the
// service manager, by the same signal.

namespace {

constexpr int kBadUse = 2;
constexpr int kNoStatus = 1;

int Refuse(const std::string& why) {
    ReportOnStandardError(why);
    return kBadUse;
}

std::string Absolute(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::absolute(path, ignored).lexically_normal().string();
}

// One agent per directory: takes the lock of each directory, making a missing one first (the
// trace directory); false, told on standard error, when another agent holds one of them. A
// directory that can be neither made nor opened is left to the logs to tell.
bool LockDirectories(const std::vector<std::string>& directories,
                     std::vector<TDirectoryLock>& locks) {
    for (const std::string& directory : directories) {
        std::error_code ignored;
        std::filesystem::create_directories(directory, ignored);
        pid_t holder = 0;
        if (locks.emplace_back().Take(directory, holder) == TDirectoryLock::EResult::Held) {
            ReportOnStandardError(
                "another agent" +
                (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) +
                " serves " + directory + "; this one ends");
            return false;
        }
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

// Prints the status file of the trace directory for a person.
int PrintStatus(const std::string& trace) {
    const std::string path = trace + "/" + TStatusFile::kName;
    std::string text;
    std::string error;
    if (!TStatusFile::Read(path, text, error)) {
        ReportOnStandardError("cannot read the status in " + path + ": " + error);
        return kNoStatus;
    }
    const std::optional<TAgentStatus> status = StatusFromJson(text, error);
    if (!status) {
        ReportOnStandardError(path + " is not a status the agent writes: " + error);
        return kNoStatus;
    }
    // A process that is gone cannot be signalled; one of another user can.
    const bool ended =
        status->pid <= 0 || (kill(static_cast<pid_t>(status->pid), 0) != 0 && errno == ESRCH);
    std::fputs(DescribeStatus(*status, ended).c_str(), stdout);
    return 0;
}

// Opens the capture the command line asks for; false, told on standard error, when it cannot
// be opened.
bool OpenCapture(const TCaptureOptions& options, unsigned short port,
                 std::unique_ptr<TCaptureRecorder>& capture) {
    TCaptureRecorder::TSettings settings{options.path, {}};
    if (options.fileBytes != 0) {
        settings.bounds.fileBytes = options.fileBytes;
        settings.bounds.files = static_cast<unsigned>(
            options.files != 0 ? options.files : TCaptureOptions::kDefaultRingFiles);
    }
    std::string error;
    capture =
        TCaptureRecorder::Open(settings, SerialDeviceName(port), ReportOnStandardError, error);
    if (!capture) {
        ReportOnStandardError("cannot capture into " + error);
    }
    return capture != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string program =
        argc > 0 && *argv[0] != '\0' ? std::filesystem::path(argv[0]).filename().string() : "agent";
    SetProgramName(program);
    const TCommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.action) {
        case TCommandLine::Action::Help:
            std::fputs(AgentUsage(program).c_str(), stdout);
            return 0;
        case TCommandLine::Action::Version:
            std::printf("pinpad-agent %s\n", kProjectVersion);
            return 0;
        case TCommandLine::Action::Fail:
            ReportOnStandardError(line.error);
            std::fputs(AgentUsage(program).c_str(), stderr);
            return kBadUse;
        case TCommandLine::Action::Serve:
        case TCommandLine::Action::Status:
            break;
    }

    std::string settings = DirectoryOf(ExecutablePath());
    std::string trace;
    if (!line.settingsDirectory.empty()) {
        settings = Absolute(line.settingsDirectory);
        std::error_code error;
        if (!std::filesystem::is_directory(settings, error)) {
            return Refuse("--dir " + line.settingsDirectory + ": not a directory");
        }
    }
    trace = line.traceDirectory.empty() ? settings + "/Trace" : Absolute(line.traceDirectory);
    if (trace.size() > kMaxPathLength || settings.size() > kMaxPathLength) {
        return Refuse("directory names longer than " + std::to_string(kMaxPathLength) +
                      " characters cannot be used");
    }
    if (line.action == TCommandLine::Action::Status) {
        return PrintStatus(trace);
    }
    // A serial device named relative to the working directory (ttyS99) is found among the
    // settings the command line names.
    if (!line.settingsDirectory.empty() && chdir(settings.c_str()) != 0) {
        return Refuse("--dir " + line.settingsDirectory + ": " + std::strerror(errno));
    }
    CatchStopSignals();
    // The program's own system, with its files where the command line says.
    std::optional<TLinSystem> located;
    if (!line.settingsDirectory.empty() || !line.traceDirectory.empty()) {
        located.emplace(TLinSystem::TFileLocations{settings, trace});
        ISystem::Install(&*located);
    }

    TTraceProblems traceProblems(trace, ReportOnStandardError);
    TLoggerToFile::SetFailureListener([&traceProblems](const char* fileName, int error) {
        traceProblems.OnLogFailure(fileName, error);
    });

    TAgentApplication* agent = TAgentApplication::Instance();
    agent->WriteStatusInto(trace, [&traceProblems](const TStatusFile::TProblem& problem) {
        traceProblems.OnStatusFailure(problem);
    });
    if (!line.metricsFile.empty()) {
        const std::string metrics = Absolute(line.metricsFile);
        agent->WriteMetricsInto(metrics, line.metricsInstance,
                                [&traceProblems, metrics](const TStatusFile::TProblem& problem) {
                                    traceProblems.OnMetricsFailure(metrics, problem);
                                });
    }
    int status = 0;
    std::vector<TDirectoryLock> locks;
    std::unique_ptr<TCaptureRecorder> capture;
    if (agent->SettingsProblem()) {
        status = Refuse(*agent->SettingsProblem());
    } else if (agent->SerialPortNumber() != 0 &&
               (!LockDirectories(
                    trace == settings ? std::vector{settings} : std::vector{settings, trace},
                    locks) ||
                (!line.capture.path.empty() &&
                 !OpenCapture(line.capture, agent->SerialPortNumber(), capture)))) {
        status = kBadUse;
    } else {
        agent->CaptureInto(capture.get());
        agent->Run(false);
        agent->CaptureInto(nullptr);
    }
    TLoggerToFile::SetFailureListener(nullptr);
    ISystem::Install(nullptr);
    EndByStopSignal();
    return status;
}
