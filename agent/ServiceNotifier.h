#pragma once

#include <memory>
#include <string>

#include "agent/ServiceStatus.h"

class ITimer;

// Keeps the service manager informed through libsystemd: READY=1 with the
// first status, once the settings are read; a STATUS= line whenever the
// status changes; and WATCHDOG=1 at half the interval the manager asks for.
// Outside a service manager (no NOTIFY_SOCKET) every call returns at once.
class TServiceNotifier {
  public:
    // The process's notifier. Reads the environment once.
    static TServiceNotifier& Instance();

    TServiceNotifier();
    ~TServiceNotifier();
    TServiceNotifier(const TServiceNotifier&) = delete;
    TServiceNotifier& operator=(const TServiceNotifier&) = delete;

    // "pinpad.ini" is read: the agent serves the serial device of port, or
    // ends when port is 0. The first status sent, here or by the next call
    // once "agent.ini" is read, goes with READY=1.
    void SettingsRead(unsigned short port);
    // The service cycle did not start (or ended): disabled, or the port did
    // not open.
    void NotServing(bool enabled);
    // A service cycle started: the line is open and the new tunnel has just
    // sent its reset.
    void ServingStarted();
    // The serial device went away during a service cycle.
    void LineLost();
    // From every pass of the agent's loops: WATCHDOG=1 when half the
    // manager's interval has passed since the last one.
    void KeepAlive();

  private:
    void SetState(TServiceStatus::EState state);
    // Sends STATUS= when the line differs from the one last sent.
    void Publish();

    bool m_notifying;
    bool m_ready = false;
    TServiceStatus m_status;
    std::string m_published;
    unsigned long m_keepAliveMs = 0;  // 0: no watchdog
    std::unique_ptr<ITimer> m_keepAliveTimer;
};
