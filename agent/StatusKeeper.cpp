#include "agent/StatusKeeper.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include "agent/ServiceNotifier.h"
#include "platform/System.h"
#include "platform/Timer.h"
#include "platform/linux/RS232Interface.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

constexpr unsigned long kNoDeadline = ~0UL;

// The system's local time as "YYYY-MM-DD HH:MM:SS".
std::string Now() {
    unsigned long date = 0;
    unsigned long time = 0;
    // Without a clock the time reads as zero.
    static_cast<void>(ISystem::Instance()->GetDateTime(&date, &time));
    char text[32];
    std::snprintf(text, sizeof text, "%04lu-%02lu-%02lu %02lu:%02lu:%02lu", date / 10000 % 10000,
                  date / 100 % 100, date % 100, time / 10000 % 100, time / 100 % 100, time % 100);
    return text;
}

// The system's time as Unix seconds.
std::int64_t UnixSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Whether two lists hold the same connections in the same states; the bytes
// they carried do not count.
bool SameConnections(const std::vector<TConnectionFigures>& a,
                     const std::vector<TConnectionFigures>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const TConnectionFigures& x, const TConnectionFigures& y) {
                          return x.socketId == y.socketId && x.calling == y.calling &&
                                 x.state == y.state && x.closing == y.closing &&
                                 x.peerAddress == y.peerAddress;
                      });
}

}  // namespace

TStatusKeeper::TStatusKeeper(TServiceNotifier& notifier) : m_notifier(notifier) {
    m_status.pid = static_cast<long>(getpid());
}

TStatusKeeper::~TStatusKeeper() = default;

void TStatusKeeper::WriteInto(const std::string& directory, TProblemListener listener) {
    m_file.emplace(directory);
    m_listener = std::move(listener);
}

void TStatusKeeper::WriteMetricsInto(const std::string& path, const std::string& instance,
                                     TProblemListener listener) {
    m_metrics.emplace(path, instance, UnixSeconds());
    m_metricsListener = std::move(listener);
}

void TStatusKeeper::SettingsRead(unsigned short port) {
    if (port == 0) {
        SetState(TServiceStatus::EState::NoPort);
    } else {
        m_status.port = SerialDeviceName(port);
    }
}

void TStatusKeeper::NotServing(bool enabled) {
    SetState(enabled ? TServiceStatus::EState::PortUnavailable : TServiceStatus::EState::Disabled);
}

void TStatusKeeper::ServingStarted() {
    NoteReset();
    SetState(TServiceStatus::EState::Serving);
}

void TStatusKeeper::LineLost() {
    SetState(TServiceStatus::EState::LineLost);
}

void TStatusKeeper::NoteReset() {
    m_status.lastReset = Now();
    m_lastResetSeconds = UnixSeconds();
}

void TStatusKeeper::SetState(TServiceStatus::EState state) {
    if (state != m_status.state) {
        m_changed = true;
    }
    m_status.state = state;
    if (state != TServiceStatus::EState::Serving) {
        m_status.linkUp = false;
        m_status.connections.clear();
    }
    m_notifier.Publish(ServiceStatus());
}

bool TStatusKeeper::IsActive() const {
    return m_file.has_value() || m_metrics.has_value() || m_notifier.IsNotifying();
}

void TStatusKeeper::Pass(const TSerialNetworkInterface& tunnel) {
    if (IsActive()) {
        Observe(Sample(tunnel));
    }
}

const TTunnelSample& TStatusKeeper::Sample(const TSerialNetworkInterface& tunnel) {
    m_sample.linkUp = tunnel.IsLinkUp();
    m_sample.counters = tunnel.Counters();
    tunnel.ListConnections(m_sample.connections);
    return m_sample;
}

void TStatusKeeper::Observe(const TTunnelSample& sample) {
    m_changed = Take(sample) || m_changed;
    if (MillisecondsToNextWrite() == 0) {
        Write();
    }
}

void TStatusKeeper::Settle(const TSerialNetworkInterface& tunnel) {
    if (!IsActive()) {
        return;
    }
    m_changed = Take(Sample(tunnel)) || m_changed;
    if (m_changed || MillisecondsToNextWrite() == 0) {
        Write();
    }
}

bool TStatusKeeper::Take(const TTunnelSample& sample) {
    bool changed = false;
    if (sample.counters.peerResets != m_status.counters.peerResets) {
        NoteReset();
        changed = true;
    }
    m_status.counters = sample.counters;
    const bool serving = m_status.state == TServiceStatus::EState::Serving;
    const bool linkUp = serving && sample.linkUp;
    changed = changed || linkUp != m_status.linkUp;
    m_status.linkUp = linkUp;
    if (!serving) {
        return changed;
    }
    changed = changed || !SameConnections(sample.connections, m_status.connections);
    m_status.connections = sample.connections;
    return changed;
}

unsigned long TStatusKeeper::MillisecondsToNextWrite() const {
    if (!IsActive()) {
        return kNoDeadline;
    }
    if (!m_sinceWrite) {
        return 0;
    }
    const unsigned long due = m_changed ? kChangeGapMs : kPeriodMs;
    const unsigned long elapsed = m_sinceWrite->GetElapsedMsec();
    return elapsed >= due ? 0 : due - elapsed;
}

void TStatusKeeper::Write() {
    m_changed = false;
    if (m_sinceWrite) {
        m_sinceWrite->Restart(kPeriodMs);
    } else {
        m_sinceWrite.reset(ISystem::Instance()->CreateTimer(kPeriodMs));
    }
    ++m_writes;
    m_notifier.Publish(ServiceStatus());
    if (m_metrics) {
        if (const auto problem = m_metrics->Write(m_status, m_lastResetSeconds);
            problem && m_metricsListener) {
            m_metricsListener(*problem);
        }
    }
    if (!m_file) {
        return;
    }
    m_status.written = Now();
    if (const auto problem = m_file->Write(StatusToJson(m_status)); problem && m_listener) {
        m_listener(*problem);
    }
}

TServiceStatus TStatusKeeper::ServiceStatus() const {
    TServiceStatus service;
    service.state = m_status.state;
    service.port = m_status.port;
    if (m_status.lastReset.size() > 11) {
        service.lastReset = m_status.lastReset.substr(11);  // the time of day
    }
    if (m_status.state == TServiceStatus::EState::Serving) {
        service.linkUp = m_status.linkUp;
        const TTunnelCounters& counters = m_status.counters;
        service.figures = {
            {"connection", "connections", m_status.connections.size()},
            {"NAK", "NAKs", counters.naksSent + counters.naksReceived},
        };
    }
    return service;
}
