#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Descriptor.h"
#include "platform/DeviceLayer.h"
#include "platform/NetworkInterface.h"
#include "platform/RS232.h"
#include "platform/System.h"
#include "platform/Timer.h"
#include "platform/linux/LinDeviceLayer.h"
#include "platform/linux/LinSystem.h"
#include "platform/linux/LinTimer.h"
#include "platform/linux/RS232Connection.h"

class TSerialNetworkInterface;

// The terminal's end of a serial line to an agent, with the terminal's half
// of the tunnel on it. While it exists ISystem::Instance() is a system whose
// device layer knows the line as serial port kPort, so the tunnel of
// DEVICE_COM kPort, and everything that picks an interface from the device
// layer, runs on it.
class TSimLine {
  public:
    // Not port 1, whose frame level would run in stream mode.
    static constexpr unsigned short kPort = 2;

    // Opens a serial device at 115200 baud, 8N1. Null with the reason in
    // error when the device cannot be used.
    static std::unique_ptr<TSimLine> OpenDevice(const std::string& path, std::string& error);
    // Makes a pseudo-terminal pair and a symbolic link linkPath to its agent
    // side; the link goes with the line.
    static std::unique_ptr<TSimLine> MakePseudoTerminal(const std::string& linkPath,
                                                        std::string& error);

    ~TSimLine();
    TSimLine(const TSimLine&) = delete;
    TSimLine& operator=(const TSimLine&) = delete;

    TSerialNetworkInterface& Tunnel();
    // The terminal's network over the line: our own tunnel, or the one given to UseNetwork.
    INetworkInterface& Network();
    // Plays the terminal with another tunnel over the same line (not owned; it reaches the
    // line through the device layer's serial port kPort). Null brings our own back.
    void UseNetwork(INetworkInterface* network) { m_network = network; }
    // The line's descriptor, for waiting until the agent has sent something.
    int Descriptor() const { return m_line.Get(); }

    // Once stop() is true, nothing more is read from the line and every
    // timer of the system runs out at once, so that whatever waits on the
    // tunnel (bringing it up, a call, an HTTP exchange) ends within a step.
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

    // A timer of the line's system: expired once the line is to stop.
    class TStoppableTimer : public TLinTimer {
      public:
        TStoppableTimer(unsigned long milliseconds, const TReading& reading)
            : TLinTimer(milliseconds), m_reading(reading) {}
        bool IsExpired() override { return m_reading.Stopped() || TLinTimer::IsExpired(); }

      private:
        const TReading& m_reading;
    };

    // The line for the tunnel: a serial connection that tells whether its
    // last read came back empty and, when steps must not wait, never waits.
    class TLineConnection : public TLinRS232Connection {
      public:
        TLineConnection(int fd, TReading& reading)
            : TLinRS232Connection(fd, "", nullptr), m_fd(fd), m_reading(reading) {}
        long ReceiveData(unsigned char* buffer, unsigned long length) override;

      private:
        int m_fd;
        TReading& m_reading;
    };

    // The line as the device layer's serial port: every Connect hands out a
    // connection over a duplicate of the line's descriptor, so the tunnel can
    // close its stack without closing the line.
    class TLineInterface : public IRS232Interface {
      public:
        TLineInterface(int fd, TReading& reading) : m_fd(fd), m_reading(reading) {}
        Error Open() override { return Error(0); }
        void Close() override {}
        Error Connect(const TRs232Params& params, IConnection** connection) override;

      private:
        int m_fd;
        TReading& m_reading;
    };

    // The platform's devices, with the line as serial port kPort.
    class TLineDeviceLayer : public TLinDeviceDebugLayer {
      public:
        // No traffic logs: the agent logs the line at its end.
        TLineDeviceLayer(int fd, TReading& reading)
            : TLinDeviceDebugLayer(nullptr), m_fd(fd), m_reading(reading) {}
        IDevice* CreateDevice(DEVICE kind, unsigned int index) override;

      private:
        int m_fd;
        TReading& m_reading;
    };

    // The Linux system with the line in its device layer.
    class TLineSystem : public TLinSystem {
      public:
        TLineSystem(int fd, TReading& reading) : m_fd(fd), m_reading(reading) {}
        ITimer* CreateTimer(unsigned long milliseconds) override {
            return new TStoppableTimer(milliseconds, m_reading);
        }

      protected:
        void CreateDeviceLayer() override;

      private:
        int m_fd;
        TReading& m_reading;
    };

    TSimLine(TDescriptor line, TDescriptor agentSide, std::string link);

    // Drops what the agent's side has not read, so a late agent does not
    // find a backlog of stale requests.
    void DiscardUnread();

    TDescriptor m_line;
    TDescriptor m_agentSide;  // pseudo-terminal only: kept open so the line never hangs up
    std::string m_link;
    TReading m_reading;
    TLineSystem m_system;
    ISystem* m_replaced;
    INetworkInterface* m_network = nullptr;
};
