#pragma once

#include <cstdint>
#include <deque>
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

// A CRC-protected, acknowledged byte stream over SLIP frames. Every SendData becomes its own
// numbered portions of at most 255 bytes, so a portion never mixes bytes of two calls; one
// unacknowledged portion is out at a time unless stream mode is on. A portion that is neither
// acknowledged nor refused within the frame timer is sent again, and the link is reset once its
// transmissions are used up. Incoming data frames are acknowledged; a repeat of the portion
// accepted last is not delivered again, and a portion whose number skips ahead marks a break
// in the stream: the peer dropped data. Progress is made only inside SendData and
// ReceiveData, each of which first handles at most one incoming frame.
class TFrameLevel {
  public:
    static constexpr unsigned long kPortionSize = 255;
    static constexpr unsigned long kFrameTimeoutMs = 2000;
    // Enough that a portion gets through a line with one bit in ten thousand wrong (where
    // about one frame in five is damaged), and a silent peer is given up after 16 s.
    static constexpr std::uint8_t kTransmissionsPerPortion = 8;
    static constexpr unsigned long kNoDeadline = ~0UL;

    // Takes ownership of slip.
    explicit TFrameLevel(SLIP* slip);
    ~TFrameLevel();

    TFrameLevel(const TFrameLevel&) = delete;
    TFrameLevel& operator=(const TFrameLevel&) = delete;

    // Queues data as portions of its own and sends the next portion when nothing is
    // outstanding (or always, in stream mode). Returns whether the link is online.
    bool SendData(const T_BinaryData& data);
    // SendData without handling an incoming frame first: a new stack's first words go out
    // before it answers anything the peer sent earlier, so the peer hears them before it
    // learns that the link is up.
    bool SendDataFirst(const T_BinaryData& data);
    // The data received so far, up to the next break in the stream, removed from the layer;
    // any data at all brings the link back online.
    T_BinaryData ReceiveData();
    // Whether the data the last ReceiveData returned is followed by a break: the peer lost
    // portions it had sent, so the next byte does not continue the stream.
    bool BreakFollows() const { return m_breakFollows; }
    // Handles at most one incoming frame, then sends the outstanding portion again (or gives
    // it up) when the frame timer has run out.
    void Process();
    bool IsOnline() const { return !m_linkDown; }
    // True when a SendData now would go out at once and queue behind nothing.
    bool IsReadyForPortion() const;
    // True while a sent portion waits for its acknowledgement or portions wait to be sent.
    bool HasOutstanding() const { return m_lastPortion.Length() != 0 || !m_sendQueue.empty(); }
    // True once after the layer dropped outgoing portions by itself (transmissions used up,
    // a failed write); ResetLink called from above does not count.
    bool TakeOutgoingLoss();
    // Frames received so far, whatever they were.
    unsigned long FramesReceived() const { return m_framesReceived; }
    // Time until the frame timer runs out with a portion outstanding; kNoDeadline if none.
    unsigned long MillisecondsToNextDeadline() const;
    // In stream mode every SendData sends the next portion at once, without
    // waiting for the previous one to be acknowledged.
    void SetStreamMode(bool on) { m_streamMode = on; }
    // Drops the outstanding portion and the queue and marks the link down
    // until the peer acknowledges the current portion or sends data.
    void ResetLink();

  private:
    void ProcessReceivedFrame(const T_BinaryData& frame);
    void AcceptDataFrame(const TFrameHeader& header, const T_BinaryData& data);
    bool DeliverFrame(TFrameHeader* header, const T_BinaryData& data);
    bool SendAuxFrame(unsigned char type, unsigned char sequence);
    void SendNextDataPortion();
    void ResendLastData();
    void InitFrameTimer();
    void DoneFrameTimer();
    // ResetLink on the layer's own account, remembered for TakeOutgoingLoss.
    void GiveUpOutgoing();

    std::unique_ptr<SLIP> m_slip;
    std::uint8_t m_sequence = 0;
    std::uint8_t m_retriesLeft = 0;
    bool m_linkDown = false;
    std::unique_ptr<ITimer> m_frameTimer;
    T_BinaryData m_received;
    // Offsets in m_received where the stream breaks, ascending.
    std::deque<unsigned long> m_breaks;
    bool m_breakFollows = false;
    // Portions not yet sent, in order.
    std::deque<T_BinaryData> m_sendQueue;
    T_BinaryData m_lastPortion;
    bool m_streamMode = false;
    bool m_outgoingLost = false;
    // The data frame accepted last, to recognise its repetitions and the gaps after it.
    bool m_acceptedAny = false;
    std::uint8_t m_acceptedSequence = 0;
    T_BinaryData m_acceptedData;
    unsigned long m_framesReceived = 0;
};
