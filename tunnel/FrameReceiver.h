#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "base/BinaryData.h"
#include "platform/TimerSource.h"
#include "tunnel/DamagedCopies.h"
#include "tunnel/FrameOptions.h"
#include "tunnel/FrameWriter.h"
#include "tunnel/TimedRepeats.h"
#include "tunnel/TunnelCounters.h"

// The receiving half of the frame level: data frames are acknowledged or refused, their data
// collected with the breaks in the peer's stream marked, and the peer is kept from losing data
// to its own frame timer: the ACK of its last portion is refreshed, its next portion asked for
// when it may have been lost whole, a refusal that may be its last held back until no
// transmission can still be on its way, and a portion rebuilt from damaged copies. Invariant:
// the breaks are ascending offsets into the data not yet taken.
class TFrameReceiver {
  public:
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

    // writer, counters, the options and timers must outlive the receiver.
    TFrameReceiver(TFrameWriter& writer, const TFrameOptions& options, ITimerSource& timers,
                   TTunnelCounters& counters);

    // A frame of data frame type, at least its type and number long, whole or damaged.
    void TakeDataFrame(const T_BinaryData& frame);
    // A frame that is no answer but a data frame whose type byte is one bit off: refusing it by
    // its number makes the peer send it again at once instead of waiting for its timer.
    void TakeDamagedType(const T_BinaryData& frame);
    // The data received so far, up to the next break in the stream, removed.
    T_BinaryData TakeData();
    bool BreakFollows() const { return m_breakFollows; }
    // Portions accepted so far, empty ones included.
    std::uint64_t PortionsAccepted() const { return m_portionsAccepted; }
    // Sends the refreshes, polls and late refusals that are due.
    void SendRepeatsDue();
    unsigned long MillisecondsToNextDeadline() const;

  private:
    // A data frame without data under a number that is neither the portion accepted last nor
    // the next, or before any was: the peer asks whether we read its portions. It is answered
    // and taken as nothing.
    bool IsProbe(const T_BinaryData& frame) const;
    void AcceptDataFrame(const TFrameHeader& header, const T_BinaryData& data);
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
    void SendAck(std::uint8_t sequence);
    std::uint8_t Next() const { return static_cast<std::uint8_t>(m_acceptedSequence + 1); }

    TFrameWriter& m_writer;
    const TFrameOptions& m_options;
    TTunnelCounters& m_counters;
    T_BinaryData m_received;
    // Offsets in m_received where the stream breaks, ascending.
    std::deque<unsigned long> m_breaks;
    bool m_breakFollows = false;
    // The data frame accepted last, to recognise its repetitions and the gaps after it.
    bool m_acceptedAny = false;
    std::uint8_t m_acceptedSequence = 0;
    T_BinaryData m_acceptedData;
    // From the arrival of the data frame accepted last.
    TTimedRepeats m_ackRefreshes;
    // From the arrival of the last data frame, good or not.
    TTimedRepeats m_nextPortionPolls;
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
    TTimedRepeats m_lateRefusal;
    // Damaged transmissions of the number after the one accepted last.
    TDamagedCopies m_damagedCopies;
    std::uint64_t m_portionsAccepted = 0;
};
