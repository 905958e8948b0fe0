#include "agent/AgentApplication.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "agent/DestinationFilter.h"
#include "agent/ServiceNotifier.h"
#include "base/IniFile.h"
#include "platform/NetworkInterface.h"
#include "platform/System.h"
#include "platform/Timer.h"
#include "platform/WaitSet.h"
#include "sysutil/SysUtil.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

// Longest sleep of an idle serving loop. Everything the tunnel waits for
// wakes it earlier, and the sleep ends at the tunnel's next deadline and at
// the settings check; the bound only keeps a quiet loop looking around now
// and then.
constexpr unsigned long cLongestIdleWaitMs = 1000;
constexpr unsigned long cSettingsCheckMs = 5000;
constexpr unsigned long cRetryPauseMs = 5000;

// One pass of the serving loop: a tunnel step, and when it found nothing to
// do, a sleep until the line or a TCP connection has work or a timer is due.
void ServeOnePass(TSerialNetworkInterface& tunnel, ITimer& settingsTimer) {
    if (tunnel.RunOneStep()) {
        return;  // more may be waiting: step again at once
    }
    TWaitSet waits;
    tunnel.AddWaits(waits);
    const unsigned long untilSettingsCheck =
        cSettingsCheckMs - std::min(cSettingsCheckMs, settingsTimer.GetElapsedMsec());
    ISystem::Instance()->WaitForActivity(
        waits, std::min({cLongestIdleWaitMs, untilSettingsCheck,
                         tunnel.MillisecondsToNextDeadline()}));
}

// Serves the terminal for one cycle: steps the tunnel while there is work
// and re-reads "Enabled" and the destination lists every few seconds.
// Returns when the service is switched off, the serial line is lost, or a
// stop is seen.
void Serve(TAgentApplication& agent, bool pollKeyboard, TSerialNetworkInterface& tunnel,
           INetworkInterface& ethernet, TDestinationFilter& destinations) {
    ISystem* system = ISystem::Instance();
    destinations.Reload();
    tunnel.SetCallFilter([&destinations](std::uint32_t socketId, std::uint32_t address,
                                         std::uint16_t port, bool calling) {
        return destinations.Check(socketId, address, port, calling);
    });
    ethernet.Open();  // A failure shows later, as refused calls reported to the terminal.
    {
        std::unique_ptr<ITimer> settingsTimer(system->CreateTimer(cSettingsCheckMs));
        do {
            ServeOnePass(tunnel, *settingsTimer);
            TServiceNotifier::Instance().KeepAlive();
            // A vanished device ends the cycle like a disabled service: the
            // port is opened anew at the next attempt, so service comes back
            // when the device does.
            if (tunnel.IsLineLost()) {
                TServiceNotifier::Instance().LineLost();
                break;
            }
            if (settingsTimer->IsExpired()) {
                if (!TAgentApplication::IsEnabled()) {
                    TServiceNotifier::Instance().NotServing(false);
                    break;
                }
                destinations.Reload();
                settingsTimer->Restart(cSettingsCheckMs);
            }
        } while (!agent.IsStopped(pollKeyboard));
    }
    ethernet.Close();
    // The filter refers to the caller's destinations; the interface outlives them.
    tunnel.SetCallFilter(nullptr);
    tunnel.Close();
}

}  // namespace

TAgentApplication* TAgentApplication::Instance() {
    static TAgentApplication agent;
    return &agent;
}

TAgentApplication::TAgentApplication() : m_serialPort(LoadSerialPortNumber()) {}

unsigned short TAgentApplication::LoadSerialPortNumber() {
    return static_cast<unsigned short>(TIniFile("pinpad.ini").GetInteger("ComPort", 0));
}

bool TAgentApplication::IsEnabled() {
    return TIniFile("agent.ini").GetInteger("Enabled", 0) != 0;
}

bool TAgentApplication::IsStopped(bool pollKeyboard) {
    if (!m_stopped && pollKeyboard && SysUtil::GetKeyPressed() != 0) {
        m_stopped = true;
    }
    return m_stopped;
}

void TAgentApplication::Run(bool pollKeyboard) {
    TServiceNotifier& service = TServiceNotifier::Instance();
    service.SettingsRead(m_serialPort);
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
    TDestinationFilter destinations;
    do {
        const bool enabled = IsEnabled();
        if (enabled && tunnel->OpenAsService().Code() == 0) {
            service.ServingStarted();
            Serve(*this, pollKeyboard, *tunnel, *ethernet, destinations);
        } else {
            service.NotServing(enabled);
        }
        service.KeepAlive();
        ISystem::Instance()->Wait(cRetryPauseMs);
    } while (!IsStopped(pollKeyboard));
}
