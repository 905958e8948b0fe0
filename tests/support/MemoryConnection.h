#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "base/BinaryData.h"
#include "platform/Connection.h"

// An in-memory byte line with two ends, A and B, for tests of anything that
// talks over an IConnection (serial protocol layers, tunnel managers).
//
// What one end sends, the other end receives, in order. Each end is a
// TMemoryConnection that can be handed to an owner which deletes it; the line
// holds the byte queues and the switches, so a test keeps steering and
// inspecting an end after giving it away, and may even outlive it.
//
//     TMemoryLine line;
//     SLIP slip(line.NewEnd(TMemoryLine::A));   // SLIP owns and deletes end A
//     line.Switches(TMemoryLine::A).maxSendChunk = 3;
//     line.Inject(TMemoryLine::A, bytes);        // as if end B had sent them
//     T_BinaryData wire = line.TakePending(TMemoryLine::B);  // what A sent
class TMemoryLine {
  public:
    enum Side { A = 0, B = 1 };

    // How one end behaves; the defaults make a perfect line.
    struct EndSwitches {
        static constexpr unsigned long kUnlimited = ~0UL;

        // Send takes at most this many bytes per call.
        unsigned long maxSendChunk = kUnlimited;
        // The next this many Send calls take nothing and return 0.
        unsigned int zeroSends = 0;
        // When negative, every Send takes nothing and returns this value.
        long sendFailure = 0;
        // Receive hands out at most this many bytes per call.
        unsigned long maxReceiveChunk = kUnlimited;
        // When negative, every Receive returns this value; queued bytes stay.
        long receiveFailure = 0;
        // Called with every chunk the end sends before it enters the line;
        // it may change the bytes (to damage them in flight) or drop them all.
        std::function<void(std::vector<unsigned char>&)> tap;
        // The answers of GetPeerAddress, GetState and GetLastError.
        unsigned long peerAddress = 0;
        CONNSTATE state = CONNSTATE_CONNECTED;
        unsigned long lastErrorCode = 0;
    };

    TMemoryLine();
    ~TMemoryLine();
    TMemoryLine(const TMemoryLine&) = delete;
    TMemoryLine& operator=(const TMemoryLine&) = delete;

    // A new connection for that end; the caller owns it. Several connections
    // may serve one end (one after the other, typically).
    IConnection* NewEnd(Side side);

    EndSwitches& Switches(Side side);

    // Bytes travelling towards side that it has not received yet.
    std::size_t PendingCount(Side receiver) const;
    // Removes and returns the bytes travelling towards side.
    T_BinaryData TakePending(Side receiver);
    // Puts bytes on the line towards side, as if the other end had sent them.
    void Inject(Side receiver, const T_BinaryData& bytes);

    // Calls made on the connections of that end so far.
    unsigned long SendCalls(Side side) const;
    unsigned long ReceiveCalls(Side side) const;
    // Connections of that end created and not yet deleted.
    int LiveEnds(Side side) const;

    struct State;

  private:
    std::shared_ptr<State> m_state;
};

// One end of a TMemoryLine.
class TMemoryConnection : public IConnection {
  public:
    TMemoryConnection(std::shared_ptr<TMemoryLine::State> state, TMemoryLine::Side side);
    ~TMemoryConnection() override;

    long Send(const unsigned char* data, unsigned long length) override;
    long Receive(unsigned char* buffer, unsigned long length) override;
    unsigned long GetPeerAddress() override;
    CONNSTATE GetState() override;
    Error GetLastError() override;

  private:
    std::shared_ptr<TMemoryLine::State> m_state;
    TMemoryLine::Side m_side;
};
