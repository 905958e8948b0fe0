#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include "base/BinaryData.h"
#include "platform/Timer.h"
#include "platform/TimerSource.h"
#include "tunnel/DamagedCopies.h"
#include "tunnel/FrameOptions.h"
#include "tunnel/PortionTerms.h"
#include "tunnel/Slip.h"
#include "tunnel/TimedRepeats.h"
#include "tunnel/TunnelCounters.h"

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
// unacknowledged portion is out at a time, or a few in stream mode. A refused portion is sent
// again. A portion that stays unanswered is sent again only when its terms allow it, since the
// peer may have taken it and lost only the answer; otherwise the data it belongs to is given up
// and reported, and the stream goes on with the next data. Incoming data frames are
// acknowledged; a repeat of the portion accepted last is not delivered again, and a portion
// whose number skips ahead marks a break in the stream: the peer dropped data. Progress is made
// only inside SendData and ReceiveData, each of which first handles at most one incoming frame.
class TFrameLevel {
  public:
    static constexpr unsigned long kPortionSize = 255;
    // How long a portion that may be repeated waits for its answer before it goes out again.
    static constexpr unsigned long kFrameTimeoutMs = 2000;
    // How long a portion that is never repeated waits for its answer before its data is given
    // up: waiting costs no line time, and a peer may not look at the line for seconds.
    static constexpr unsigned long kUnrepeatedTimeoutMs = 4000;
    // Enough that a portion gets through a line with one bit in ten thousand wrong (where
    // about one frame in five is damaged), and a silent peer is given up after 16 s.
    static constexpr std::uint8_t kTransmissionsPerPortion = 8;
    // Unanswered portions out at once in stream mode: a few portions' line time, so a loop
    // that sends is never held up for long by a line that cannot take more.
    static constexpr unsigned long kStreamWindow = 4;
    // When the ACK of the data frame accepted last is sent again, counted from its arrival,
    // while nothing newer has come; none later than kAckRefreshLimitMs, well inside the peer's
    // 2000 ms frame timer, should the loop have been held up.
    static constexpr unsigned long kAckRefreshesMs[] = {500, 1000};
    static constexpr unsigned long kAckRefreshLimitMs = 1400;
    // When the peer's next portion is asked for, counted from the last data frame that arrived,
    // while none has come since; the same limit holds.
    static constexpr unsigned long kNextPortionPollsMs[] = {300, 900};
    // When a refusal held back because it may be the peer's last NAK goes out after all, counted
    // from the last transmission of that portion that arrived, while no further one has come:
    // by then none is still on its way. The same limit holds.
    static constexpr unsigned long kLateRefusalMs[] = {500};
    // A terminal sends a portion at most three times and resets its link at the third NAK for
    // it, dropping what it has queued.
    static constexpr unsigned kPeerTransmissions = 3;
    static constexpr unsigned long kNoDeadline = ~0UL;

    // Takes ownership of slip; its timers come from timers, which must outlive it.
    explicit TFrameLevel(SLIP* slip, TFrameOptions options = TFrameOptions(),
                         ITimerSource& timers = SystemTimers());
    ~TFrameLevel();

    TFrameLevel(const TFrameLevel&) = delete;
    TFrameLevel& operator=(const TFrameLevel&) = delete;

    // Queues data as portions of its own and sends the next portion when nothing is
    // outstanding (or always, in stream mode). Returns whether the link is online.
    bool SendData(const T_BinaryData& data, TPortionTerms terms = TPortionTerms());
    // SendData without handling an incoming frame first: a new stack's first words go out
    // before it answers anything the peer sent earlier, so the peer hears them before it
    // learns that the link is up.
    bool SendDataFirst(const T_BinaryData& data, TPortionTerms terms = TPortionTerms());
    // The data received so far, up to the next break in the stream, removed from the layer;
    // any data at all brings the link back online.
    T_BinaryData ReceiveData();
    // Whether the data the last ReceiveData returned is followed by a break: the peer lost
    // portions it had sent, so the next byte does not continue the stream.
    bool BreakFollows() const { return m_breakFollows; }
    // Handles at most one incoming frame, then deals with portions whose answer is overdue.
    void Process();
    bool IsOnline() const { return !m_linkDown; }
    // True when a SendData now would go out at once and queue behind nothing.
    bool IsReadyForPortion() const;
    // True while a sent portion waits for its answer or portions wait to be sent.
    bool HasOutstanding() const { return !m_inFlight.empty() || !m_sendQueue.empty(); }
    // The next outcome of tagged data, oldest first.
    std::optional<TPortionOutcome> TakeOutcome();
    // Frames received so far, whatever they were.
    unsigned long FramesReceived() const { return m_counters.framesReceived; }
    // The frame figures counted so far; the packet figures are left at 0.
    const TTunnelCounters& Counters() const { return m_counters; }
    // Time until the answer of a portion out is overdue; kNoDeadline if none is out.
    unsigned long MillisecondsToNextDeadline() const;
    // In stream mode every SendData sends the next portion at once, without
    // waiting for the previous one to be acknowledged.
    void SetStreamMode(bool on) { m_streamMode = on; }
    const TFrameOptions& Options() const { return m_options; }
    // Switches the measures against lost answers; best done before anything is sent.
    void SetOptions(const TFrameOptions& options);
    // Drops the portions out and the queue and marks the link down until the peer
    // acknowledges the current portion or sends data. Nothing is reported.
    void ResetLink();
    // Drops the portions out and the queue without a report; the link stays as it is.
    void DropOutgoing();

  private:
    struct TQueuedPortion {
        T_BinaryData data;
        TPortionTerms terms;
        // The last portion of its SendData call: its acknowledgement delivers the call's data.
        bool endsData;
    };
    struct TPortionOut {
        TQueuedPortion portion;
        std::uint8_t sequence;
        std::uint8_t transmissionsLeft;
        std::unique_ptr<ITimer> timer;
    };

    void ProcessReceivedFrame(const T_BinaryData& frame);
    void AcceptDataFrame(const TFrameHeader& header, const T_BinaryData& data);
    // The ACK or NAK a frame stands for, repaired if the options allow; none if it is no
    // answer to a portion out.
    std::optional<TFrameHeader> ReadAnswer(const T_BinaryData& frame) const;
    // Takes a frame that waits for its closing END, when its check shows it whole: a data frame,
    // or an answer to a portion out.
    void TakeFrameWaitingForEnd();
    bool AnswersPortionOut(const TFrameHeader& header) const;
    void ProcessAck(std::uint8_t sequence);
    void ProcessNak(std::uint8_t sequence);
    // Answers come in order: older portions still out lost theirs.
    void LoseOlderThan(std::size_t index);
    void CheckOverdue();
    // Sends the ACK of the data frame accepted last again, and asks for the peer's next
    // portion, when one of them is due.
    void SendRepeatsDue();
    // The frame rebuilt from a damaged transmission of the portion expected next and the ones
    // before it, if the options allow and they agree on one.
    std::optional<T_BinaryData> RebuildFromCopies(const T_BinaryData& frame);
    // Counts a data frame that arrived, good or not, if it carries the number expected next.
    void CountTransmission(std::uint8_t sequence);
    // Refuses a data frame by its number (see the rule at m_naksForNext).
    void SendNak(std::uint8_t sequence, bool poll);
    // Sends a NAK for sequence. One for the peer's next portion counts against that portion's
    // transmissions; only one that refuses a frame that arrived (not a poll) counts as sent.
    void TransmitNak(std::uint8_t sequence, bool poll);
    bool DeliverFrame(TFrameHeader* header, const T_BinaryData& data);
    bool SendAuxFrame(unsigned char type, unsigned char sequence);
    void SendNextDataPortion();
    void Transmit(TPortionOut& out);
    // Gives up the data of the portion out at index, with whatever of it is still queued.
    void LosePortion(std::size_t index);
    void Report(const TPortionTerms& terms, bool delivered);
    // Gives up everything outgoing and resets the link, on the layer's own account.
    void GiveUpOutgoing();

    std::unique_ptr<SLIP> m_slip;
    ITimerSource& m_timers;
    TFrameOptions m_options;
    std::uint8_t m_sequence = 0;
    bool m_linkDown = false;
    T_BinaryData m_received;
    // Offsets in m_received where the stream breaks, ascending.
    std::deque<unsigned long> m_breaks;
    bool m_breakFollows = false;
    // Portions not yet sent, in order.
    std::deque<TQueuedPortion> m_sendQueue;
    // Portions sent and not yet answered, oldest first; one at most outside stream mode.
    std::deque<TPortionOut> m_inFlight;
    std::deque<TPortionOutcome> m_outcomes;
    bool m_streamMode = false;
    // The data frame accepted last, to recognise its repetitions and the gaps after it.
    bool m_acceptedAny = false;
    std::uint8_t m_acceptedSequence = 0;
    T_BinaryData m_acceptedData;
    TTunnelCounters m_counters;
    // From the arrival of the data frame accepted last.
    TTimedRepeats m_ackRefreshes{kAckRefreshesMs, kAckRefreshLimitMs, m_timers};
    // From the arrival of the last data frame, good or not.
    TTimedRepeats m_nextPortionPolls{kNextPortionPollsMs, kAckRefreshLimitMs, m_timers};
    // NAKs sent for the number after the one accepted last, polls included, and the
    // transmissions of it that arrived. A poll can cross a transmission that was only late, and
    // the peer then sends one more than was asked for; a NAK that makes the peer reset its link
    // while that one is still on its way would let it through with the peer's queue dropped
    // behind it and no gap in the numbers. So polls never make the peer's last NAK, and a
    // refusal makes it at once only when all of the peer's transmissions have arrived, and
    // otherwise once no further transmission has come for a while (m_lateRefusal). A poll that
    // reached a peer with nothing out was ignored, and counting it must not leave a damaged
    // portion unrefused for good: a terminal waits for the answer of its last portion forever.
    unsigned m_naksForNext = 0;
    unsigned m_transmissionsOfNext = 0;
    TTimedRepeats m_lateRefusal{kLateRefusalMs, kAckRefreshLimitMs, m_timers};
    // Damaged transmissions of the number after the one accepted last.
    TDamagedCopies m_damagedCopies;
    // Raw length of the waiting frame when TakeFrameWaitingForEnd last looked into it.
    unsigned long m_pendingLengthChecked = 0;
};
