#pragma once

#include <functional>
#include <memory>
#include <string>

#include "common/LinkedPseudoTerminal.h"
#include "platform/Connection.h"
#include "platform/Descriptor.h"
#include "platform/NetworkInterface.h"
#include "platform/Timer.h"
#include "platform/TimerSource.h"
#include "platform/linux/RS232Connection.h"

class TSerialNetworkInterface;

// The terminal's end of a serial line to an agent, with the terminal's half
// of the tunnel on it. The tunnel opens the line through the line itself and
// takes its timers from it, so nothing of the system is replaced.
class TSimLine {
  public:
    // Not port 1, whose frame level would run in stream mode.
    static constexpr unsigned short kPort = 2;

    // Opens a serial device at 115200 baud, 8N1. Null with the reason in
    // error when the device cannot be used.
    static std::unique_ptr<TSimLine> OpenDevice(const std::string& path, std::string& error);
    // Makes a pseudo-terminal pair and a symbolic link linkPath to its agent
    // side; the link goes with the line, if it still points there.
    static std::unique_ptr<TSimLine> MakePseudoTerminal(const std::string& linkPath,
                                                        std::string& error);

    ~TSimLine();
    TSimLine(const TSimLine&) = delete;
    TSimLine& operator=(const TSimLine&) = delete;

    // Our own tunnel over the line, as serial port kPort.
    TSerialNetworkInterface& Tunnel() { return *m_tunnel; }
    // The terminal's network over the line: our own tunnel, or the one given to UseNetwork.
    INetworkInterface& Network();
    // Plays the terminal with another tunnel over the same line (not owned; it reaches the
    // line through OpenLine). Null brings our own back.
    void UseNetwork(INetworkInterface* network) { m_network = network; }
    // A new connection over the line, which the caller owns; closing it leaves the line open.
    // Null when the line's descriptor cannot be duplicated.
    IConnection* OpenLine();
    // The line's descriptor, for waiting until the agent has sent something.
    int Descriptor() const { return m_line.Get(); }

    // Once stop() is true, nothing more is read from the line and every
    // timer of our tunnel runs out at once, so that whatever waits on it
    // (bringing it up, a call, a send) ends within a step.
    void StopWhen(std::function<bool()> stop) { m_reading.stop = std::move(stop); }

    // Brings the network's tunnel up: tries until an agent answers, seconds have passed
    // or stop() is true.
    bool WaitForAgent(unsigned seconds, const std::function<bool()>& stop);

    // With false, tunnel steps no longer wait for the line (by default each
    // waits up to 25 ms when nothing has arrived); the owner then waits with
    // WaitForLine between steps that found nothing to do.
    void WaitInSteps(bool wait) { m_reading.waitInSteps = wait; }
    // Sleeps until the line has input or timeoutMs has passed, but only once
    // the tunnel has taken everything the line had: while bytes may wait in
    // the tunnel's buffers, returns at once.
    void WaitForLine(int timeoutMs);

  private:
    // How the tunnel reads the line, shared with every connection over it.
    struct TReading {
        bool waitInSteps = true;
        // The last read found nothing, so nothing is buffered above the line.
        bool drained = false;
        // See StopWhen; never when empty.
        std::function<bool()> stop;

        bool Stopped() const { return stop && stop(); }
    };

    // The system's timers, each expired once the line is to stop.
    class TStoppableTimers : public ITimerSource {
      public:
        explicit TStoppableTimers(const TReading& reading) : m_reading(reading) {}
        std::unique_ptr<ITimer> CreateTimer(unsigned long milliseconds) override;
        bool Pause(TWaitSet& waits, unsigned long milliseconds) override {
            return SystemTimers().Pause(waits, milliseconds);
        }

      private:
        const TReading& m_reading;
    };

    // The line for a tunnel: a serial connection over its own duplicate of
    // the line's descriptor that tells whether its last read came back empty
    // and, when steps must not wait, never waits.
    class TLineConnection : public TLinRS232Connection {
      public:
        // Owns fd from here on.
        TLineConnection(int fd, TReading& reading)
            : TLinRS232Connection(fd, "", nullptr), m_fd(fd), m_reading(reading) {}
        long ReceiveData(unsigned char* buffer, unsigned long length) override;

      private:
        int m_fd;
        TReading& m_reading;
    };

    TSimLine(TDescriptor line, TDescriptor agentSide, TOwnedLink link);

    // Drops what the agent's side has not read, so a late agent does not
    // find a backlog of stale requests.
    void DiscardUnread();

    TDescriptor m_line;
    TDescriptor m_agentSide;  // pseudo-terminal only: kept open so the line never hangs up
    TOwnedLink m_link;
    TReading m_reading;
    TStoppableTimers m_timers;
    std::unique_ptr<TSerialNetworkInterface> m_tunnel;  // goes before the timers it uses
    INetworkInterface* m_network = nullptr;
};
