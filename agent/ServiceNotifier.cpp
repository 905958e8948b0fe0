#include "agent/ServiceNotifier.h"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <cstdlib>

#include "platform/System.h"
#include "platform/Timer.h"

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

void TServiceNotifier::KeepAlive() {
    if (m_keepAliveTimer && m_keepAliveTimer->IsExpired()) {
        sd_notify(0, "WATCHDOG=1");
        m_keepAliveTimer->Restart(m_keepAliveMs);
    }
}

unsigned long TServiceNotifier::MillisecondsToNextKeepAlive() const {
    if (!m_keepAliveTimer) {
        return ~0UL;
    }
    const unsigned long elapsed = m_keepAliveTimer->GetElapsedMsec();
    return elapsed >= m_keepAliveMs ? 0 : m_keepAliveMs - elapsed;
}

void TServiceNotifier::Stopping() {
    if (m_notifying && !m_stopping) {
        m_stopping = true;
        sd_notify(0, "STOPPING=1");
    }
}

void TServiceNotifier::Publish(const TServiceStatus& status) {
    if (!m_notifying) {
        return;
    }
    std::string line = status.Line();
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
