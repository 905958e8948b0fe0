#include "agent/AgentApplication.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "agent/AgentSettings.h"
#include "agent/CapturingNetwork.h"
#include "agent/DestinationFilter.h"
#include "agent/LineCapture.h"
#include "agent/ServiceNotifier.h"
#include "base/Error.h"
#include "platform/DeviceLayer.h"
#include "platform/NetworkInterface.h"
#include "platform/System.h"
#include "platform/Timer.h"
#include "platform/WaitSet.h"
#include "platform/linux/LoggerToFile.h"
#include "platform/linux/RS232Interface.h"
#include "platform/linux/StopSignals.h"
#include "sysutil/SysUtil.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

// Longest sleep of an idle serving loop. Everything the tunnel waits for
// wakes it earlier, and the sleep ends at the tunnel's next deadline and at
// the settings check; the bound only keeps a quiet loop looking around now
// and then.
constexpr unsigned long kLongestIdleWaitMs = 1000;
constexpr unsigned long kSettingsCheckMs = 5000;
constexpr unsigned long kRetryPauseMs = 5000;

// The system's reason (an errno value) below a failed open of the tunnel;
// 0 when it gives none.
int SystemReason(const Error& failure) {
    for (std::optional<Error> cause = failure.Sub(); cause; cause = cause->Sub()) {
        if (cause->Code() > kLinErrnoBase && cause->Code() < kLinErrnoBase + 4096) {
            return static_cast<int>(cause->Code() - kLinErrnoBase);
        }
    }
    return 0;
}

// The serial device as a person finds it: a name relative to the working
// directory with that directory in front.
std::string DevicePath(unsigned short port) {
    std::string name = SerialDeviceName(port);
    if (!name.starts_with("/")) {
        std::error_code error;
        const std::filesystem::path here = std::filesystem::current_path(error);
        if (!error) {
            name = (here / name).string();
        }
    }
    return name;
}

// One pass of the serving loop: a tunnel step, and when it found nothing to
// do, a sleep until the line or a TCP connection has work or a timer is due.
void ServeOnePass(TSerialNetworkInterface& tunnel, ITimer& settingsTimer,
                  const TStatusKeeper& status) {
    if (tunnel.RunOneStep()) {
        return;  // more may be waiting: step again at once
    }
    TWaitSet waits;
    tunnel.AddWaits(waits);
    const unsigned long untilSettingsCheck =
        kSettingsCheckMs - std::min(kSettingsCheckMs, settingsTimer.GetElapsedMsec());
    ISystem::Instance()->WaitForActivity(
        waits, std::min({kLongestIdleWaitMs, untilSettingsCheck,
                         tunnel.MillisecondsToNextDeadline(), status.MillisecondsToNextWrite(),
                         TServiceNotifier::Instance().MillisecondsToNextKeepAlive()}));
}

// Serves the terminal for one cycle: steps the tunnel while there is work
// and re-reads "Enabled" and the destination lists every few seconds.
// Returns when the service is switched off, the serial line is lost, or a
// stop is seen.
void Serve(TAgentApplication& agent, bool pollKeyboard, TSerialNetworkInterface& tunnel,
           INetworkInterface& ethernet, TDestinationFilter& destinations, TStatusKeeper& status) {
    ISystem* system = ISystem::Instance();
    destinations.Reload();
    tunnel.SetCallFilter([&destinations](std::uint32_t socketId, std::uint32_t address,
                                         std::uint16_t port, bool calling) {
        return destinations.Check(socketId, address, port, calling);
    });
    // A failure shows later, as refused calls reported to the terminal.
    static_cast<void>(ethernet.Open());
    {
        std::unique_ptr<ITimer> settingsTimer(system->CreateTimer(kSettingsCheckMs));
        do {
            ServeOnePass(tunnel, *settingsTimer, status);
            status.Pass(tunnel);
            TServiceNotifier::Instance().KeepAlive();
            // A vanished device ends the cycle like a disabled service: the
            // port is opened anew at the next attempt, so service comes back
            // when the device does.
            if (tunnel.IsLineLost()) {
                status.LineLost();
                break;
            }
            if (settingsTimer->IsExpired()) {
                if (!agent.IsEnabled()) {
                    status.NotServing(TServiceStatus::EState::Disabled);
                    break;
                }
                destinations.Reload();
                agent.ReloadTrafficLogSettings();
                settingsTimer->Restart(kSettingsCheckMs);
            }
        } while (!agent.IsStopped(pollKeyboard));
    }
    ethernet.Close();
    // The filter refers to the caller's destinations; the interface outlives them.
    tunnel.SetCallFilter(nullptr);
    tunnel.Close();
}

}  // namespace

namespace {
std::string programName = "agent";
}  // namespace

void SetProgramName(std::string name) {
    programName = std::move(name);
}

void ReportOnStandardError(const std::string& line) {
    std::fprintf(stderr, "%s: %s\n", programName.c_str(), line.c_str());
}

TAgentApplication* TAgentApplication::Instance() {
    static TAgentApplication agent(ReportOnStandardError);
    return &agent;
}

TAgentApplication::TAgentApplication(TReporter report)
    : m_report(std::move(report)), m_status(TServiceNotifier::Instance()) {
    // The terminal's line is a device of this program: the tunnel, under the USB and COM kinds.
    TDeviceLayer::RegisterKind(DEVICE_USB, &TSerialNetworkInterface::MakeDevice);
    TDeviceLayer::RegisterKind(DEVICE_COM, &TSerialNetworkInterface::MakeDevice);
    TPortSetting setting = ReadPortSetting();
    m_serialPort = setting.port;
    m_settingsProblem = std::move(setting.problem);
    if (setting.notice && !m_settingsProblem) {
        Report(*setting.notice);
    }
}

unsigned short TAgentApplication::LoadSerialPortNumber() {
    return ReadPortSetting().port;
}

bool TAgentApplication::IsEnabled() {
    TEnabledSetting setting = ReadEnabledSetting();
    if (setting.problem && setting.problem != m_enabledProblem) {
        Report(*setting.problem);
    }
    m_enabledProblem = std::move(setting.problem);
    return setting.enabled;
}

void TAgentApplication::ReloadTrafficLogSettings() {
    TTrafficLogSetting setting = ReadTrafficLogSetting();
    if (setting.problem && setting.problem != m_trafficLogProblem) {
        Report(*setting.problem);
    }
    m_trafficLogProblem = std::move(setting.problem);
    TLoggerToFile::SetTrafficPolicy(setting.payloads,
                                    static_cast<unsigned long>(setting.limitBytes));
}

void TAgentApplication::Report(const std::string& line) {
    if (m_report) {
        m_report(line);
    }
}

bool TAgentApplication::IsStopped(bool pollKeyboard) {
    if (!m_stopped && StopSignal() != 0) {
        m_stopped = true;
        TServiceNotifier::Instance().Stopping();
    }
    if (!m_stopped && pollKeyboard && SysUtil::GetKeyPressed() != 0) {
        m_stopped = true;
    }
    return m_stopped;
}

void TAgentApplication::Pause() {
    TServiceNotifier& service = TServiceNotifier::Instance();
    const std::unique_ptr<ITimer> pause(ISystem::Instance()->CreateTimer(kRetryPauseMs));
    for (unsigned long elapsed = 0; elapsed < kRetryPauseMs && StopSignal() == 0;
         elapsed = pause->GetElapsedMsec()) {
        TWaitSet nothing;
        ISystem::Instance()->WaitForActivity(
            nothing, std::min(kRetryPauseMs - elapsed, service.MillisecondsToNextKeepAlive()));
        service.KeepAlive();
    }
}

void TAgentApplication::ReportOpenFailure(const Error& failure) {
    const int reason = SystemReason(failure);
    if (reason == m_openFailureReported) {
        return;
    }
    m_openFailureReported = reason;
    const std::string device = DevicePath(m_serialPort);
    if (reason == EBUSY) {
        Report("serial port " + device + " is in use by another program; trying again every 5 s");
    } else {
        Report("serial port " + device +
               " cannot be opened: " + (reason != 0 ? std::strerror(reason) : "unknown reason") +
               "; trying again every 5 s");
    }
}

void TAgentApplication::Run(bool pollKeyboard) {
    if (m_settingsProblem) {
        return;
    }
    TServiceNotifier& service = TServiceNotifier::Instance();
    m_status.SettingsRead(m_serialPort);
    if (m_serialPort == 0) {
        return;
    }
    IDeviceLayer* devices = ISystem::Instance()->GetDeviceLayer();
    auto* tunnel =
        dynamic_cast<TSerialNetworkInterface*>(devices->GetDevice(DEVICE_USB, m_serialPort));
    auto* ethernet = dynamic_cast<INetworkInterface*>(devices->GetDevice(DEVICE_ETHERNET, 0));
    if (tunnel == nullptr || ethernet == nullptr) {
        return;
    }
    std::optional<TCapturingNetwork> capturedNetwork;
    if (m_capture != nullptr) {
        capturedNetwork.emplace(*ethernet, *m_capture);
        tunnel->SetNetwork(&*capturedNetwork);
        tunnel->SetLineTap([recorder = m_capture](IConnection* port) {
            return new TLineCapture(port, *recorder);
        });
    }
    TDestinationFilter destinations([this](const std::string& line) { Report(line); });
    do {
        // Read while idle too, so that a misspelt key is told before the service starts.
        destinations.Reload();
        if (!IsEnabled()) {
            m_status.NotServing(TServiceStatus::EState::Disabled);
        } else {
            // The line's log takes them from its first entry on.
            ReloadTrafficLogSettings();
            if (const Error opened = tunnel->OpenAsService(); opened.Code() == 0) {
                m_openFailureReported = kNoOpenFailure;
                m_status.ServingStarted();
                Serve(*this, pollKeyboard, *tunnel, *ethernet, destinations, m_status);
            } else {
                m_status.NotServing(SystemReason(opened) == EBUSY
                                        ? TServiceStatus::EState::PortBusy
                                        : TServiceStatus::EState::PortUnavailable);
                ReportOpenFailure(opened);
            }
        }
        m_status.Settle(*tunnel);
        service.KeepAlive();
        Pause();
    } while (!IsStopped(pollKeyboard));
    tunnel->SetLineTap(nullptr);
    tunnel->SetNetwork(nullptr);
}
