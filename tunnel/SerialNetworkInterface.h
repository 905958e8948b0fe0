#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/Error.h"
#include "platform/NetworkInterface.h"
#include "platform/TimerSource.h"
#include "tunnel/CallFilter.h"
#include "tunnel/TunnelCounters.h"

class ISerialLine;
struct TRs232Params;
class TBufferedConnection;
class TSerialManager;
class TWaitSet;

// The tunnel as a network interface: a network reached through a serial port. It builds and
// owns the protocol stack on the port (serial line, input buffering, SLIP, frame level, serial
// manager). The agent serves the line with OpenAsService and RunOneStep; a terminal opens it
// and makes tunnelled connections with Call and Listen.
class TSerialNetworkInterface : public INetworkInterface {
  public:
    // Opens the serial port with those parameters. It sets *line to the port's connection,
    // which the caller then owns, or leaves it null and returns why the port would not open.
    using TSerialPortOpener = std::function<Error(const TRs232Params& params, IConnection** line)>;

    // The tunnel on the system's serial port of that index, with the system's Ethernet interface
    // for the agent side's TCP connections and the system's timers, each looked up when a stack
    // is built (OpenSystemSerialPort, SystemEthernet, SystemTimers).
    explicit TSerialNetworkInterface(unsigned short port);
    // The tunnel on what openPort opens, with network (not owned, may be null) for the agent
    // side's TCP connections and timers for every timer of the stack; both must outlive it.
    TSerialNetworkInterface(unsigned short port, TSerialPortOpener openPort,
                            INetworkInterface* network, ITimerSource& timers);
    ~TSerialNetworkInterface() override;
    // A new interface on the serial port index, for the device layer of a program that offers
    // the tunnel under a device kind (TDeviceLayer::RegisterKind).
    static IDevice* MakeDevice(unsigned int index);
    TSerialNetworkInterface(const TSerialNetworkInterface&) = delete;
    TSerialNetworkInterface& operator=(const TSerialNetworkInterface&) = delete;

    Error Open() override;
    void Close() override;
    unsigned GetCurrentState() override;
    Error GetNetworkError() override;
    Error SetSelfParams(const TNetworkClientParam& params) override;
    Error GetSelfParams(TNetworkClientParam& params) override;
    Error Call(const TNetworkHostParam& host, IConnection** connection) override;
    Error Listen(unsigned short port, IConnection** connection) override;
    Error Ping(unsigned long address) override;
    Error ResolveAddressUsingDNS(const char* name, unsigned long* address) override;

    // Builds the stack without waiting for the other end. The agent's loop
    // sleeps in a wait set (AddWaits) when a step finds nothing to do, so the
    // line's Receive only looks for input instead of waiting for it. When
    // the serial port will not open, the port's error hangs below 20025.
    Error OpenAsService();
    // One processing step. True when it made progress or input read from
    // the line still waits: the caller should step again at once rather
    // than sleep.
    bool RunOneStep();
    // Adds what a loop with nothing to do waits for: input on the serial
    // line and the TCP connections the tunnel holds.
    void AddWaits(TWaitSet& waits) const;
    // How long such a loop may sleep before a timer of the tunnel is due;
    // TFrameLevel::kNoDeadline when none runs.
    unsigned long MillisecondsToNextDeadline() const;
    // Whether the serial line is lost for good (a hang-up, a device that
    // vanished, a failed read): the stack is of no use until the port is
    // opened anew.
    bool IsLineLost();
    // Builds the stack unless it is built; with waitForLink the other end must answer within
    // 3 seconds or the stack is taken down again.
    void InitSerialManager(bool waitForLink);
    // Deletes the whole stack, which closes the serial port.
    void Cleanup();
    // Screens the terminal's call and listen requests, in this stack and every one built
    // later; an empty filter admits them all.
    void SetCallFilter(TCallFilter filter);
    // Puts the serial port of every stack built from now on through tap, whose result the stack
    // reads and writes instead: the port itself or a filter that owns it (an ISerialLine if a
    // loop is to sleep on it). An empty tap leaves the port as it is.
    using TLineTap = std::function<IConnection*(IConnection* port)>;
    void SetLineTap(TLineTap tap) { m_lineTap = std::move(tap); }
    // The network for the agent side's TCP connections of every stack built from now on,
    // instead of the one given or looked up; null goes back to that one. It must outlive the
    // stacks.
    void SetNetwork(INetworkInterface* network) { m_networkOverride = network; }
    // Runs the frame level in stream mode, or not, whatever the port says, in this stack and
    // every one built later.
    void SetStreamMode(bool on);

    // Whether a stack is built and the other end has answered since its link was last reset.
    bool IsLinkUp() const;
    // What every stack built so far has counted, the current one included.
    TTunnelCounters Counters() const;
    // Replaces the content of into with the TCP connections the current stack holds for the
    // terminal; empty without a stack.
    void ListConnections(std::vector<TConnectionFigures>& into) const;

  private:
    TSerialPortOpener m_openPort;
    // The interface for the agent side's TCP connections, asked for when a stack is built.
    std::function<INetworkInterface*()> m_network;
    INetworkInterface* m_networkOverride = nullptr;
    TLineTap m_lineTap;
    ITimerSource& m_timers;
    std::unique_ptr<TSerialManager> m_manager;
    TCallFilter m_callFilter;
    // The bottom of the stack, owned through the manager.
    TBufferedConnection* m_lineInput = nullptr;
    // The port's connection when a loop can wait on it, else null.
    ISerialLine* m_line = nullptr;
    std::uint32_t m_lastSocketId = 0;
    // Why the serial port last failed to open.
    Error m_lineError;
    unsigned short m_port;
    // Stream mode as set; by default the first port runs it.
    bool m_streamMode;
    // What the stacks taken down had counted.
    TTunnelCounters m_pastCounters;
};
