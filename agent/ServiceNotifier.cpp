#include "agent/ServiceNotifier.h"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/RS232Interface.h"
#include "platform/System.h"
#include "platform/Timer.h"

namespace {

// "HH:MM:SS" of the system's clock.
std::string TimeOfDay() {
    unsigned long date = 0;
    unsigned long time = 0;
    ISystem::Instance()->GetDateTime(&date, &time);
    char text[16];
    std::snprintf(text, sizeof text, "%02lu:%02lu:%02lu", time / 10000 % 100, time / 100 % 100,
                  time % 100);
    return text;
}

}  // namespace

TServiceNotifier& TServiceNotifier::Instance() {
    static TServiceNotifier notifier;
    return notifier;
}

TServiceNotifier::TServiceNotifier() : m_notifying(std::getenv("NOTIFY_SOCKET") != nullptr) {
    std::uint64_t intervalUs = 0;
    if (m_notifying && sd_watchdog_enabled(0, &intervalUs) > 0) {
        // Half the interval, as the manager advises, and at least a millisecond.
        m_keepAliveMs = static_cast<unsigned long>(intervalUs / 2000) + 1;
    }
}

TServiceNotifier::~TServiceNotifier() = default;

void TServiceNotifier::SettingsRead(unsigned short port) {
    if (port == 0) {
        SetState(TServiceStatus::EState::NoPort);
    } else {
        m_status.port = SerialDeviceName(port);
    }
}

void TServiceNotifier::NotServing(bool enabled) {
    SetState(enabled ? TServiceStatus::EState::PortUnavailable : TServiceStatus::EState::Disabled);
}

void TServiceNotifier::ServingStarted() {
    if (m_notifying) {
        m_status.lastReset = TimeOfDay();
    }
    SetState(TServiceStatus::EState::Serving);
}

void TServiceNotifier::LineLost() {
    SetState(TServiceStatus::EState::LineLost);
}

void TServiceNotifier::KeepAlive() {
    if (m_keepAliveTimer && m_keepAliveTimer->IsExpired()) {
        sd_notify(0, "WATCHDOG=1");
        m_keepAliveTimer->Restart(m_keepAliveMs);
    }
}

void TServiceNotifier::SetState(TServiceStatus::EState state) {
    m_status.state = state;
    Publish();
}

void TServiceNotifier::Publish() {
    if (!m_notifying) {
        return;
    }
    std::string line = m_status.Line();
    if (!m_ready) {
        m_ready = true;
        m_published = std::move(line);
        sd_notifyf(0, "READY=1\nSTATUS=%s", m_published.c_str());
        if (m_keepAliveMs != 0) {
            m_keepAliveTimer.reset(ISystem::Instance()->CreateTimer(m_keepAliveMs));
        }
    } else if (line != m_published) {
        m_published = std::move(line);
        sd_notifyf(0, "STATUS=%s", m_published.c_str());
    }
}
