#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "base/BinaryData.h"
#include "platform/TimerSource.h"
#include "tunnel/FrameOptions.h"
#include "tunnel/FrameReceiver.h"
#include "tunnel/FrameSender.h"
#include "tunnel/FrameWriter.h"
#include "tunnel/PortionTerms.h"
#include "tunnel/Slip.h"
#include "tunnel/TunnelCounters.h"

// A CRC-protected, acknowledged byte stream over SLIP frames. Every SendData becomes its own
// numbered portions of at most 255 bytes, so a portion never mixes bytes of two calls; one
// unacknowledged portion is out at a time, or a few in stream mode. A refused portion is sent
// again. A portion that stays unanswered is sent again only when its terms allow it, since the
// peer may have taken it and lost only the answer, or when a probe shows that the peer never
// read it (see TFrameSender); otherwise the data it belongs to is given up and reported, and the
// stream goes on with the next data. Incoming data frames are
// acknowledged; a repeat of the portion accepted last is not delivered again, and a portion
// whose number skips ahead marks a break in the stream: the peer dropped data. Progress is made
// only inside SendData and ReceiveData, each of which first handles at most one incoming frame.
class TFrameLevel {
  public:
    static constexpr unsigned long kPortionSize = TFrameSender::kPortionSize;
    static constexpr unsigned long kFrameTimeoutMs = TFrameSender::kFrameTimeoutMs;
    static constexpr unsigned long kUnrepeatedTimeoutMs = TFrameSender::kUnrepeatedTimeoutMs;
    static constexpr std::uint8_t kTransmissionsPerPortion = TFrameSender::kTransmissionsPerPortion;
    static constexpr unsigned long kStreamWindow = TFrameSender::kStreamWindow;
    static constexpr const auto& kAckRefreshesMs = TFrameReceiver::kAckRefreshesMs;
    static constexpr unsigned long kAckRefreshLimitMs = TFrameReceiver::kAckRefreshLimitMs;
    static constexpr const auto& kNextPortionPollsMs = TFrameReceiver::kNextPortionPollsMs;
    static constexpr const auto& kLateRefusalMs = TFrameReceiver::kLateRefusalMs;
    static constexpr unsigned kPeerTransmissions = TFrameReceiver::kPeerTransmissions;
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
    bool BreakFollows() const { return m_receiver.BreakFollows(); }
    // Handles at most one incoming frame, then deals with portions whose answer is overdue.
    void Process();
    bool IsOnline() const { return !m_sender.IsLinkDown(); }
    // True when a SendData now would go out at once and queue behind nothing.
    bool IsReadyForPortion() const { return m_sender.IsReadyForPortion(); }
    // True while a sent portion waits for its answer or portions wait to be sent.
    bool HasOutstanding() const { return m_sender.HasOutstanding(); }
    // The next outcome of tagged data, oldest first.
    std::optional<TPortionOutcome> TakeOutcome() { return m_sender.TakeOutcome(); }
    // Frames received so far, whatever they were.
    unsigned long FramesReceived() const { return m_counters.framesReceived; }
    // The frame figures counted so far; the packet figures are left at 0.
    const TTunnelCounters& Counters() const { return m_counters; }
    // Time until the answer of a portion out is overdue, or a repeat of ours is due;
    // kNoDeadline if none is.
    unsigned long MillisecondsToNextDeadline() const;
    // In stream mode every SendData sends the next portion at once, without
    // waiting for the previous one to be acknowledged.
    void SetStreamMode(bool on) { m_sender.SetStreamMode(on); }
    const TFrameOptions& Options() const { return m_options; }
    // Switches the measures against lost answers; best done before anything is sent.
    void SetOptions(const TFrameOptions& options);
    // Drops the portions out and the queue and marks the link down until the peer
    // acknowledges the current portion or sends data. Nothing is reported.
    void ResetLink() { m_sender.ResetLink(); }
    // Drops the portions out and the queue without a report; the link stays as it is.
    void DropOutgoing() { m_sender.DropOutgoing(); }

  private:
    void ProcessReceivedFrame(const T_BinaryData& frame);
    // Takes a frame that waits for its closing END, when its check shows it whole: a data frame,
    // or an answer that is expected.
    void TakeFrameWaitingForEnd();

    std::unique_ptr<SLIP> m_slip;
    TFrameOptions m_options;
    TTunnelCounters m_counters;
    TFrameWriter m_writer;
    TFrameSender m_sender{m_writer, m_options, m_counters};
    TFrameReceiver m_receiver;
    // Raw length of the waiting frame when TakeFrameWaitingForEnd last looked into it.
    unsigned long m_pendingLengthChecked = 0;
};
