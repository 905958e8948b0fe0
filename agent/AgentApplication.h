#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "agent/StatusKeeper.h"
#include "base/Error.h"

class TCaptureRecorder;

// The agent's top level: reads its settings beside the executable and drives
// the serial tunnel from a single polling loop. It owns no devices; the device
// layer keeps them. It is silent but for problems a person must fix, each
// told once as one line.
class TAgentApplication {
  public:
    // Hears each problem as one line of text.
    using TReporter = std::function<void(const std::string& line)>;

    // The process's agent, built on first use; it tells its problems on
    // standard error.
    static TAgentApplication* Instance();

    // Reads the serial port number once; Instance() is the one the program
    // uses, tests build their own.
    explicit TAgentApplication(TReporter report = nullptr);
    TAgentApplication(const TAgentApplication&) = delete;
    TAgentApplication& operator=(const TAgentApplication&) = delete;

    // "ComPort" of "pinpad.ini"; 0 when absent, 0 or unreadable.
    static unsigned short LoadSerialPortNumber();
    // "Enabled" of "agent.ini", read anew on every call; false when absent
    // or not a number. A value that is not a number is reported, again only
    // once it has changed.
    bool IsEnabled();

    // "TrafficLogs" and "TrafficLogLimit" of "agent.ini", read anew and
    // applied to every traffic log from its next entry on. A bad value is
    // reported, again only once it has changed.
    void ReloadTrafficLogSettings();

    // Whether a stop was requested, by SIGTERM or SIGINT (which also tells
    // the service manager) or by a key; polls the keyboard only when allowed.
    bool IsStopped(bool pollKeyboard);
    // Serves the terminal until IsStopped(pollKeyboard) says so; returns at
    // once without a port, with a settings problem, or without the two
    // network interfaces. A serial port that cannot be opened is reported
    // with the system's reason, again only when the reason changes, and
    // tried again every 5 seconds.
    void Run(bool pollKeyboard);

    unsigned short SerialPortNumber() const { return m_serialPort; }
    // Why "pinpad.ini" gives no usable port, if it does not.
    const std::optional<std::string>& SettingsProblem() const { return m_settingsProblem; }
    // Run keeps the status file of directory from then on; problems go to the listener.
    void WriteStatusInto(const std::string& directory, TStatusKeeper::TProblemListener listener) {
        m_status.WriteInto(directory, std::move(listener));
    }
    // Run keeps the metrics file at path from then on, its series labelled with instance when
    // not empty; problems go to the listener.
    void WriteMetricsInto(const std::string& path, const std::string& instance,
                          TStatusKeeper::TProblemListener listener) {
        m_status.WriteMetricsInto(path, instance, std::move(listener));
    }

    // Run records the serial line and the terminal's TCP connections into recorder (not
    // owned, must outlive Run); null records nothing.
    void CaptureInto(TCaptureRecorder* recorder) { m_capture = recorder; }

  private:
    // The 5 s between two attempts, keeping the watchdog fed; a stop signal
    // ends it early.
    void Pause();
    void ReportOpenFailure(const Error& failure);
    void Report(const std::string& line);

    bool m_stopped = false;
    unsigned short m_serialPort;
    std::optional<std::string> m_settingsProblem;
    TReporter m_report;
    // The bad "Enabled" value told last; cleared by a good one.
    std::optional<std::string> m_enabledProblem;
    std::optional<std::string> m_trafficLogProblem;
    // The system's reason for the open failure told last; reset by an open.
    static constexpr int kNoOpenFailure = -1;
    int m_openFailureReported = kNoOpenFailure;
    TStatusKeeper m_status;
    TCaptureRecorder* m_capture = nullptr;
};

// Writes the line to standard error as "PROGRAM: LINE".
void ReportOnStandardError(const std::string& line);
// The name those lines start with, as the program was invoked; "agent" until set.
void SetProgramName(std::string name);
