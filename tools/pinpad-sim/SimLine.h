#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/DeviceOverlay.h"
#include "platform/ForwardingSystem.h"
#include "platform/RS232.h"

class TSerialNetworkInterface;

// An open descriptor, closed when its owner goes.
class TDescriptor {
  public:
    explicit TDescriptor(int fd = -1) : fd_(fd) {}
    ~TDescriptor();
    TDescriptor(TDescriptor&& other) noexcept : fd_(other.Release()) {}
    TDescriptor& operator=(TDescriptor&& other) noexcept;

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    int Release();

  private:
    int fd_;
};

// The terminal's end of a serial line to an agent, with the terminal's half
// of the tunnel on it. While it exists the system's device layer knows the
// line as serial port kPort and the tunnel as DEVICE_COM kPort, so everything
// that picks an interface from the device layer finds them.
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

    TSerialNetworkInterface& Tunnel() { return *tunnel_; }

    // Brings the tunnel up: tries until an agent answers, seconds have passed
    // or stop() is true.
    bool WaitForAgent(unsigned seconds, const std::function<bool()>& stop);

  private:
    // The line as the device layer's serial port: every Connect hands out a
    // connection over a duplicate of the line's descriptor, so the tunnel can
    // close its stack without closing the line.
    class TLineInterface : public IRS232Interface {
      public:
        explicit TLineInterface(int fd) : fd_(fd) {}
        Error Open() override { return Error(0); }
        void Close() override {}
        Error Connect(const TRs232Params& params, IConnection** connection) override;

      private:
        int fd_;
    };

    // The process's system with the line and the tunnel in its device layer.
    class TLineSystem : public TForwardingSystem {
      public:
        TLineSystem();
        IDeviceLayer* GetDeviceLayer() override { return &devices; }
        TDeviceOverlay devices;
    };

    TSimLine(TDescriptor line, TDescriptor agentSide, std::string link);

    // Drops what the agent's side has not read, so a late agent does not
    // find a backlog of stale requests.
    void DiscardUnread();

    TDescriptor line_;
    TDescriptor agentSide_;  // pseudo-terminal only: kept open so the line never hangs up
    std::string link_;
    TLineInterface lineDevice_;
    TLineSystem system_;
    TSystemInstallation installation_;
    std::unique_ptr<TSerialNetworkInterface> tunnel_;
};
