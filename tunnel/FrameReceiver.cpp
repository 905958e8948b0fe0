#include "tunnel/FrameReceiver.h"

#include <algorithm>

#include "tunnel/FrameBytes.h"

using namespace FrameBytes;

namespace {

// Type and sequence: enough of a data frame to refuse it by number.
constexpr unsigned long kNakableSize = 2;

}  // namespace

TFrameReceiver::TFrameReceiver(TFrameWriter& writer, const TFrameOptions& options,
                               ITimerSource& timers, TTunnelCounters& counters)
    : m_writer(writer),
      m_options(options),
      m_counters(counters),
      m_ackRefreshes(kAckRefreshesMs, kAckRefreshLimitMs, timers),
      m_nextPortionPolls(kNextPortionPollsMs, kAckRefreshLimitMs, timers),
      m_lateRefusal(kLateRefusalMs, kAckRefreshLimitMs, timers) {}

void TFrameReceiver::TakeDataFrame(const T_BinaryData& frame) {
    if (frame.Length() < kNakableSize) {
        return;
    }
    if (IsProbe(frame)) {
        // Answered like any data frame, and nothing else: it is no transmission of a portion,
        // and the peer's silence since its last portion goes on.
        if (IsComplete(frame) && HasGoodCrc(frame)) {
            SendAck(frame[1]);
        } else {
            TransmitNak(frame[1], false);
        }
        return;
    }
    CountTransmission(frame[1]);
    if (m_options.pollNext && m_acceptedAny) {
        m_nextPortionPolls.Start();
    }
    // A damaged data frame is refused by its number at once, so the sender repeats it
    // without waiting for its timer; a wrong number is ignored by the sender.
    T_BinaryData whole = frame;
    if (!IsComplete(frame) || !HasGoodCrc(frame)) {
        std::optional<T_BinaryData> rebuilt = RebuildFromCopies(frame);
        if (!rebuilt) {
            SendNak(frame[1], false);
            return;
        }
        whole = *rebuilt;
    }
    const TFrameHeader header(whole[0], whole[1], whole[2]);
    SendAck(header.sequence);
    AcceptDataFrame(header, whole.Copy(TFrameHeader::kSize, header.length));
    if (m_options.refreshAcks) {
        m_ackRefreshes.Start();
    }
    if (m_options.pollNext) {
        m_nextPortionPolls.Start();
    }
}

void TFrameReceiver::TakeDamagedType(const T_BinaryData& frame) {
    CountTransmission(frame[1]);
    SendNak(frame[1], false);
}

bool TFrameReceiver::IsProbe(const T_BinaryData& frame) const {
    // Before anything was accepted there is no number to tell a probe from the peer's own empty
    // portion by. Either is taken as nothing: a peer sends its empty portion when its link reset
    // dropped its queue, so what it sends next starts afresh, and nothing of a stream is waiting
    // here yet for the rest of a packet. Taken as a portion, a probe would make the peer's next
    // portion look like a gap, and the gap would close the connections it opens.
    if (frame.Length() < TFrameHeader::kSize || frame[2] != 0) {
        return false;
    }
    return !m_acceptedAny || (frame[1] != m_acceptedSequence && frame[1] != Next());
}

T_BinaryData TFrameReceiver::TakeData() {
    unsigned long count = m_received.Length();
    m_breakFollows = !m_breaks.empty();
    if (m_breakFollows) {
        count = m_breaks.front();
        m_breaks.pop_front();
        for (unsigned long& offset : m_breaks) {
            offset -= count;
        }
    }
    return m_received.Cut(0, count);
}

void TFrameReceiver::SendRepeatsDue() {
    if (m_ackRefreshes.TakeDue()) {
        // A refresh the line did not take is one fewer; the next may get through.
        static_cast<void>(
            m_writer.Write(TFrameHeader(TFrameHeader::kAck, m_acceptedSequence, 0), {}));
    }
    if (m_nextPortionPolls.TakeDue()) {
        SendNak(Next(), true);
    }
    if (m_lateRefusal.TakeDue()) {
        TransmitNak(Next(), false);
    }
}

unsigned long TFrameReceiver::MillisecondsToNextDeadline() const {
    return std::min({m_ackRefreshes.MillisecondsToNext(), m_nextPortionPolls.MillisecondsToNext(),
                     m_lateRefusal.MillisecondsToNext()});
}

std::optional<T_BinaryData> TFrameReceiver::RebuildFromCopies(const T_BinaryData& frame) {
    if (!m_options.combineCopies || !m_acceptedAny || frame.Length() < kOverhead ||
        frame[1] != Next() || frame.Length() != frame[2] + kOverhead) {
        return std::nullopt;
    }
    return m_damagedCopies.Add(frame);
}

void TFrameReceiver::CountTransmission(std::uint8_t sequence) {
    if (m_acceptedAny && sequence == Next()) {
        ++m_transmissionsOfNext;
        m_lateRefusal.Stop();
    }
}

void TFrameReceiver::SendNak(std::uint8_t sequence, bool poll) {
    if (m_acceptedAny && sequence == m_acceptedSequence) {
        // A damaged copy of the portion accepted last: nothing is missing, and a terminal
        // with nothing out would answer the NAK with an empty portion under that number.
        return;
    }
    if (m_acceptedAny && sequence == Next()) {
        const bool lastOfPeer = m_naksForNext + 1 >= kPeerTransmissions;
        if (lastOfPeer && (poll || m_transmissionsOfNext < kPeerTransmissions)) {
            if (!poll) {
                m_lateRefusal.Start();
            }
            return;
        }
    }
    TransmitNak(sequence, poll);
}

void TFrameReceiver::TransmitNak(std::uint8_t sequence, bool poll) {
    if (m_acceptedAny && sequence == Next()) {
        ++m_naksForNext;
    }
    // A poll refuses nothing that arrived; it is not counted as a refusal.
    if (m_writer.Write(TFrameHeader(TFrameHeader::kNak, sequence, 0), {}) && !poll) {
        ++m_counters.naksSent;
    }
}

void TFrameReceiver::SendAck(std::uint8_t sequence) {
    // An answer the line did not take is as good as lost on the way: the peer asks again, or
    // the refreshes reach it.
    const TFrameHeader ack(TFrameHeader::kAck, sequence, 0);
    static_cast<void>(m_writer.Write(ack, {}));
    if (m_options.doubleAcks) {
        static_cast<void>(m_writer.Write(ack, {}));
    }
}

void TFrameReceiver::AcceptDataFrame(const TFrameHeader& header, const T_BinaryData& data) {
    if (m_acceptedAny && header.sequence == m_acceptedSequence && data == m_acceptedData) {
        ++m_counters.repeatsReceived;
        return;  // our acknowledgement was lost and the peer repeated the portion
    }
    // A terminal sends a portion without data only when a NAK for its current number finds
    // nothing out. Under the number expected next that means its link reset dropped the
    // portion and everything queued behind it; under any other number it means nothing.
    if (data.Length() == 0 && m_acceptedAny && header.sequence != Next()) {
        return;
    }
    if (m_acceptedAny && (header.sequence != Next() || data.Length() == 0)) {
        m_breaks.push_back(m_received.Length());
    }
    ++m_portionsAccepted;
    m_acceptedAny = true;
    m_acceptedSequence = header.sequence;
    m_acceptedData = data;
    m_received += data;
    m_naksForNext = 0;
    m_transmissionsOfNext = 0;
    m_lateRefusal.Stop();
    m_damagedCopies.Clear();
}
