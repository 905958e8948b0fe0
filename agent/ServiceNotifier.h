#pragma once

#include <memory>
#include <string>

#include "agent/ServiceStatus.h"

class ITimer;

// Keeps the service manager informed through libsystemd: READY=1 with the
// first status; a STATUS= line whenever the status line changes;
// WATCHDOG=1 at half the interval the manager asks for; and STOPPING=1 when
// the agent is asked to stop. Outside a service
// manager (no NOTIFY_SOCKET) every call returns at once.
class TServiceNotifier {
  public:
    // The process's notifier. Reads the environment once.
    static TServiceNotifier& Instance();

    TServiceNotifier();
    ~TServiceNotifier();
    TServiceNotifier(const TServiceNotifier&) = delete;
    TServiceNotifier& operator=(const TServiceNotifier&) = delete;

    // Whether a service manager listens.
    bool IsNotifying() const { return m_notifying; }
    // Sends the status's line, with READY=1 the first time and afterwards
    // only when it differs from the line sent last.
    void Publish(const TServiceStatus& status);
    // From every pass of the agent's loops: WATCHDOG=1 when half the
    // manager's interval has passed since the last one.
    void KeepAlive();
    // How long a loop may sleep before the next WATCHDOG=1 is due; ~0UL
    // without a watchdog.
    unsigned long MillisecondsToNextKeepAlive() const;
    // Sends STOPPING=1, once.
    void Stopping();

  private:
    bool m_notifying;
    bool m_ready = false;
    bool m_stopping = false;
    std::string m_published;
    unsigned long m_keepAliveMs = 0;  // 0: no watchdog
    std::unique_ptr<ITimer> m_keepAliveTimer;
};
