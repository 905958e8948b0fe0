#pragma once

#include <cstdint>
#include <memory>

#include "base/BinaryData.h"
#include "platform/Timer.h"
#include "tunnel/Slip.h"

// The three bytes in front of every frame, in wire order.
struct TFrameHeader {
    static constexpr unsigned char kData = 0x41;
    static constexpr unsigned char kAck = 0x06;
    static constexpr unsigned char kNak = 0x15;
    static constexpr unsigned long kSize = 3;

    TFrameHeader(unsigned char frameType, unsigned char frameSequence, unsigned char dataLength)
        : type(frameType), sequence(frameSequence), length(dataLength) {}

    unsigned char type;
    unsigned char sequence;
    unsigned char length;
};

// A CRC-protected, acknowledged byte stream over SLIP frames. Outgoing bytes
// are queued and sent in numbered portions of at most 255 bytes, one
// unacknowledged portion at a time unless stream mode is on; incoming data
// frames with a good CRC are acknowledged and their data collected for
// ReceiveData. Progress is made only inside SendData and ReceiveData, each of
// which first handles at most one incoming frame.
class TFrameLevel {
  public:
    static constexpr unsigned long kPortionSize = 255;
    static constexpr unsigned long kFrameTimeoutMs = 2000;
    static constexpr std::uint8_t kTransmissionsPerPortion = 3;

    // Takes ownership of slip.
    explicit TFrameLevel(SLIP* slip);
    ~TFrameLevel();

    TFrameLevel(const TFrameLevel&) = delete;
    TFrameLevel& operator=(const TFrameLevel&) = delete;

    // Queues data and sends the next portion when nothing is outstanding (or
    // always, in stream mode). Returns whether the link is online.
    bool SendData(const T_BinaryData& data);
    // All data received so far, removed from the layer; any data at all
    // brings the link back online.
    T_BinaryData ReceiveData();
    // Handles at most one incoming frame, then drops everything outgoing when
    // the frame timer has run out while data waits in the queue.
    void Process();
    bool IsOnline() const { return !m_linkDown; }
    // Bytes queued by SendData that have not gone out in a portion yet.
    unsigned long QueuedLength() const { return m_sendQueue.Length(); }
    // In stream mode every SendData sends the next portion at once, without
    // waiting for the previous one to be acknowledged.
    void SetStreamMode(bool on) { m_streamMode = on; }
    // Drops the outstanding portion and the queue and marks the link down
    // until the peer acknowledges the current portion or sends data.
    void ResetLink();

  private:
    void ProcessReceivedFrame(const T_BinaryData& frame);
    bool DeliverFrame(TFrameHeader* header, const T_BinaryData& data);
    bool SendAuxFrame(unsigned char type, unsigned char sequence);
    void SendNextDataPortion();
    void ResendLastData();
    void InitFrameTimer();
    void DoneFrameTimer();

    std::unique_ptr<SLIP> m_slip;
    std::uint8_t m_sequence = 0;
    std::uint8_t m_retriesLeft = 0;
    bool m_linkDown = false;
    std::unique_ptr<ITimer> m_frameTimer;
    T_BinaryData m_received;
    T_BinaryData m_sendQueue;
    T_BinaryData m_lastPortion;
    bool m_streamMode = false;
};
