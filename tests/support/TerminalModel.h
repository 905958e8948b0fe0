#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/Connection.h"
#include "platform/NetworkInterface.h"
#include "platform/Timer.h"

// A model of the terminal's half of the tunnel as the field's terminals run it: the protocol's
// terminal side taken literally, with none of the measures our own half adds. Tests and load
// tools play the terminal with it to show how the agent copes with the terminal it really
// meets. What sets it apart from our half:
//
// - its frame level acknowledges and delivers every data frame with a good check, a repeat
//   included, and never checks the check of an ACK or NAK;
// - it never sends a portion again because its frame timer ran out; when the timer has run out
//   with data still queued it resets its link and drops the outstanding portion and the queue
//   without a word, its sequence number unchanged;
// - in stream mode (port 1) every SendData sends the next portion at once;
// - a tunnelled connection whose Send finds the link down is closed locally and sends no close
//   request; the application goes on with a new call;
// - its data requests carry 255 bytes each, and all packets share one byte stream cut into
//   255-byte portions, so a portion can hold the tail of one packet and the head of the next;
// - every call into it handles at most one incoming frame per frame-level call, and between
//   calls it may stay away for seconds (the application drives its display or printer).
//
// It runs on any IConnection (an in-memory line under a fake clock, a pseudo-terminal) and
// takes its timers from ISystem::Instance(), like the rest of the code.

using TModelBytes = std::vector<std::uint8_t>;

// What the model saw and did, for the figures of a test run.
struct TModelCounters {
    unsigned long framesReceived = 0;
    unsigned long dataFramesDelivered = 0;
    // Data frames delivered under the same number as the one delivered just before: repeats
    // of a portion the model had already taken (or, rarely, a new portion after a wrap).
    unsigned long repeatsDelivered = 0;
    unsigned long naksSent = 0;
    // Link resets because the frame timer ran out with data queued, and because a portion
    // was refused three times or could not be written.
    unsigned long timerResets = 0;
    unsigned long otherResets = 0;
    // Bytes handed to the frame level that a reset dropped before they were sent.
    unsigned long bytesDropped = 0;
};

// Input buffering below the SLIP layer: reads the line in blocks of up to 4096 bytes and hands
// them out in pieces; the call that refills answers 0, and a failed refill fails it for good.
class TModelLineInput {
  public:
    explicit TModelLineInput(std::unique_ptr<IConnection> line) : m_line(std::move(line)) {}
    long Receive(std::uint8_t* data, unsigned long length);
    // Insists until the line has taken everything or failed; length on success.
    long Send(const std::uint8_t* data, unsigned long length);

  private:
    std::unique_ptr<IConnection> m_line;
    std::uint8_t m_buffer[4096] = {};
    long m_fill = 0;
    long m_position = 0;
};

// SLIP framing: one byte read per Receive; an END with nothing collected opens a frame, and the
// END that closes a frame does not open the next one. No length limit.
class TModelSlip {
  public:
    explicit TModelSlip(std::unique_ptr<IConnection> line) : m_input(std::move(line)) {}
    bool SendData(const TModelBytes& payload);
    // The next complete frame's payload, or nothing.
    TModelBytes ReceiveData();

  private:
    TModelLineInput m_input;
    bool m_inFrame = false;
    TModelBytes m_received;
};

// Numbered, checked, acknowledged frames; see the class comment of TTerminalModel.
class TModelFrameLevel {
  public:
    static constexpr unsigned long kPortionSize = 255;
    static constexpr unsigned long kFrameTimeoutMs = 2000;

    TModelFrameLevel(std::unique_ptr<TModelSlip> slip, TModelCounters& counters)
        : m_slip(std::move(slip)), m_counters(counters) {}

    bool SendData(const TModelBytes& data);
    TModelBytes ReceiveData();
    void Process();
    bool IsOnline() const { return !m_linkDown; }
    void SetStreamMode(bool on) { m_streamMode = on; }
    void ResetLink();
    // Bytes queued and not yet acknowledged.
    std::size_t Queued() const { return m_sendQueue.size() + m_lastPortion.size(); }

  private:
    void ProcessReceivedFrame(const TModelBytes& frame);
    bool DeliverFrame(std::uint8_t type, std::uint8_t sequence, const TModelBytes& data);
    void SendNextDataPortion();
    void ResendLastData();
    void InitFrameTimer();

    std::unique_ptr<TModelSlip> m_slip;
    TModelCounters& m_counters;
    std::uint8_t m_sequence = 0;
    std::uint8_t m_retriesLeft = 0;
    bool m_linkDown = false;
    std::unique_ptr<ITimer> m_frameTimer;
    TModelBytes m_received;
    TModelBytes m_sendQueue;
    TModelBytes m_lastPortion;
    bool m_streamMode = false;
    bool m_deliveredAny = false;
    std::uint8_t m_deliveredSequence = 0;
};

class TModelConnection;

// The packet layer of the terminal: cuts the agent's notices out of the byte stream and hands
// each to the tunnelled connection of its socket id.
class TModelTunnel {
  public:
    // Sends the reset request and resets the link.
    TModelTunnel(std::unique_ptr<TModelFrameLevel> frames, std::function<void()> idle);
    ~TModelTunnel();

    // One step: at most one frame from the frame level, then every packet it completes.
    bool ProcessContinuously();
    // Steps until the link is online or 3000 ms have passed; the last online flag read.
    bool WaitInterfaceReady();
    bool SendData(const TModelBytes& packet);
    TModelConnection* AddConnection(std::uint32_t socketId, std::uint8_t request,
                                    std::uint32_t address, std::uint16_t port);
    void Forget(std::uint32_t socketId);
    bool HaveConnections() const { return !m_connections.empty(); }
    TModelFrameLevel& Frames() { return *m_frames; }

  private:
    std::unique_ptr<TModelFrameLevel> m_frames;
    std::function<void()> m_idle;
    std::map<std::uint32_t, TModelConnection*> m_connections;
    TModelBytes m_input;
};

// One tunnelled connection of the terminal's application.
class TModelConnection : public IConnection {
  public:
    TModelConnection(TModelTunnel* tunnel, std::uint32_t socketId)
        : m_tunnel(tunnel), m_socketId(socketId) {}
    ~TModelConnection() override;

    long Send(const unsigned char* data, unsigned long length) override;
    long Receive(unsigned char* buffer, unsigned long length) override;
    unsigned long GetPeerAddress() override { return m_peerAddress; }
    CONNSTATE GetState() override;
    Error GetLastError() override { return Error(m_lastError); }

    // A notice of the agent for this socket id.
    void Notice(std::uint8_t action, std::uint32_t value, const TModelBytes& data);
    // Marks the connection closed (the agent's reset).
    void Drop() { m_state = CONNSTATE_DISCONNECTED; }
    // The tunnel is going away: closed, and nothing reaches the tunnel any more.
    void Detach();

  private:
    void Step();
    bool SendPacket(const TModelBytes& packet);

    TModelTunnel* m_tunnel;
    TModelBytes m_received;
    std::uint32_t m_socketId;
    std::uint32_t m_peerAddress = 0;
    std::uint32_t m_lastError = 20027;
    CONNSTATE m_state = CONNSTATE_CONNECTING;
};

// The terminal's tunnel as a network interface. The stack is built on a line from openLine at
// the first Open, Call or Listen and must see the agent answer within 3 s; stream mode is on
// when asked for, as the terminal does on its first serial port.
class TTerminalModel : public INetworkInterface {
  public:
    using TLineOpener = std::function<IConnection*()>;

    TTerminalModel(TLineOpener openLine, bool streamMode);
    ~TTerminalModel() override;

    Error Open() override;
    // Tears the stack down unless tunnelled connections still use it.
    void Close() override;
    unsigned GetCurrentState() override { return m_tunnel ? 3 : 4; }
    Error GetNetworkError() override { return Error(2); }
    Error SetSelfParams(const TNetworkClientParam&) override { return Error(2); }
    Error GetSelfParams(TNetworkClientParam&) override { return Error(2); }
    Error Call(const TNetworkHostParam& host, IConnection** connection) override;
    Error Listen(unsigned short port, IConnection** connection) override;
    Error Ping(unsigned long) override { return Error(2); }
    Error ResolveAddressUsingDNS(const char* name, unsigned long* address) override;

    // Tears the stack down whatever uses it.
    void Cleanup();
    // One tunnel step, as the application's own calls make; false when nothing was built.
    bool Step();
    // What the tunnel does while it waits for the link (3 s at most at a time). By default the
    // system's Idle; an in-memory test lets the agent run there, as it would beside a real
    // terminal.
    void SetIdle(std::function<void()> idle) { m_idle = std::move(idle); }
    // Bytes the frame level holds for the line; 0 without a stack.
    std::size_t QueuedForLine() const;
    const TModelCounters& Counters() const { return m_counters; }

  private:
    void Build(bool waitForLink);
    Error Open(std::uint8_t request, std::uint32_t address, std::uint16_t port,
               IConnection** connection);

    TLineOpener m_openLine;
    bool m_streamMode;
    std::function<void()> m_idle;
    TModelCounters m_counters;
    std::unique_ptr<TModelTunnel> m_tunnel;
    std::uint32_t m_lastSocketId = 0;
};
