#include "tunnel/FrameLevel.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "base/Conversions.h"

namespace {

constexpr unsigned long kCrcSize = 2;
// Header and check of a frame; its data lies between them.
constexpr unsigned long kFrameOverhead = TFrameHeader::kSize + kCrcSize;
// Type and sequence: enough of a data frame to refuse it by number.
constexpr unsigned long kNakableSize = 2;

bool IsComplete(const T_BinaryData& frame) {
    return frame.Length() >= kFrameOverhead && frame.Length() >= frame[2] + kFrameOverhead;
}

bool HasGoodCrc(const T_BinaryData& frame) {
    const unsigned long checked = TFrameHeader::kSize + frame[2];
    return CountCrc(frame.GetData(), checked) == frame.MsbWord(checked);
}

// How long a portion on these terms waits for its answer after each transmission.
unsigned long AnswerTimeoutMs(const TPortionTerms& terms) {
    return terms.repeatAfterTimeOut ? TFrameLevel::kFrameTimeoutMs
                                    : TFrameLevel::kUnrepeatedTimeoutMs;
}

bool IsAnswerType(unsigned char type) {
    return type == TFrameHeader::kAck || type == TFrameHeader::kNak;
}

// A data frame behind one byte that is neither a frame type: what a damaged opening END leaves.
bool HasGarbageFront(const T_BinaryData& frame) {
    return frame.Length() > kFrameOverhead && frame[0] != TFrameHeader::kData &&
           frame[1] == TFrameHeader::kData && !IsAnswerType(frame[0]);
}

bool DiffersInOneBit(unsigned char a, unsigned char b) {
    const unsigned difference = static_cast<unsigned>(a ^ b);
    return difference != 0 && (difference & (difference - 1)) == 0;
}

// An ACK or NAK whose five bytes from offset are whole: no data, and a check that fits.
std::optional<TFrameHeader> WholeAnswerAt(const T_BinaryData& frame, unsigned long offset) {
    if (frame.Length() < offset + kFrameOverhead) {
        return std::nullopt;
    }
    const T_BinaryData answer = frame.Copy(offset, kFrameOverhead);
    if (!IsAnswerType(answer[0]) || answer[2] != 0 || !HasGoodCrc(answer)) {
        return std::nullopt;
    }
    return TFrameHeader(answer[0], answer[1], 0);
}

// The one header, differing from the frame's in a single bit, that its check fits; none when
// no flip or more than one does.
std::optional<TFrameHeader> HeaderWithOneBitRepaired(const T_BinaryData& frame) {
    const std::uint16_t check = frame.MsbWord(TFrameHeader::kSize);
    std::optional<TFrameHeader> repaired;
    int fits = 0;
    for (unsigned long bit = 0; bit < 8 * TFrameHeader::kSize; ++bit) {
        std::array<unsigned char, TFrameHeader::kSize> header{frame[0], frame[1], frame[2]};
        header[bit / 8] ^= static_cast<unsigned char>(1U << (bit % 8));
        if (CountCrc(header.data(), header.size()) == check) {
            ++fits;
            repaired = TFrameHeader(header[0], header[1], header[2]);
        }
    }
    return fits == 1 ? repaired : std::nullopt;
}

}  // namespace

TFrameLevel::TFrameLevel(SLIP* slip, TFrameOptions options, ITimerSource& timers)
    : m_slip(slip), m_timers(timers) {
    SetOptions(options);
}

void TFrameLevel::SetOptions(const TFrameOptions& options) {
    m_options = options;
    m_slip->SetDoubleDelimiters(options.doubleDelimiters);
    m_slip->SetClosingEndOpens(options.repairAnswers);
}

TFrameLevel::~TFrameLevel() = default;

bool TFrameLevel::SendData(const T_BinaryData& data, TPortionTerms terms) {
    Process();
    return SendDataFirst(data, terms);
}

bool TFrameLevel::SendDataFirst(const T_BinaryData& data, TPortionTerms terms) {
    if (data.Length() == 0) {
        Report(terms, true);
    }
    for (unsigned long offset = 0; offset < data.Length(); offset += kPortionSize) {
        m_sendQueue.push_back(TQueuedPortion{data.Copy(offset, kPortionSize), terms,
                                             offset + kPortionSize >= data.Length()});
    }
    if (m_streamMode || m_inFlight.empty()) {
        SendNextDataPortion();
    }
    return IsOnline();
}

T_BinaryData TFrameLevel::ReceiveData() {
    Process();
    unsigned long count = m_received.Length();
    m_breakFollows = !m_breaks.empty();
    if (m_breakFollows) {
        count = m_breaks.front();
        m_breaks.pop_front();
        for (unsigned long& offset : m_breaks) {
            offset -= count;
        }
    }
    T_BinaryData data = m_received.Cut(0, count);
    if (data.Length() != 0) {
        m_linkDown = false;
    }
    return data;
}

void TFrameLevel::Process() {
    const T_BinaryData frame = m_slip->ReceiveData();
    if (frame.Length() != 0) {
        m_pendingLengthChecked = 0;  // whatever waits now is a new frame
        ++m_counters.framesReceived;
        ProcessReceivedFrame(frame);
    } else if (m_options.repairAnswers) {
        TakeFrameWaitingForEnd();
    }
    SendRepeatsDue();
    CheckOverdue();
}

void TFrameLevel::SendRepeatsDue() {
    if (m_ackRefreshes.TakeDue()) {
        SendAuxFrame(TFrameHeader::kAck, m_acceptedSequence);
    }
    if (m_nextPortionPolls.TakeDue()) {
        SendNak(static_cast<std::uint8_t>(m_acceptedSequence + 1), true);
    }
    if (m_lateRefusal.TakeDue()) {
        TransmitNak(static_cast<std::uint8_t>(m_acceptedSequence + 1), false);
    }
}

std::optional<T_BinaryData> TFrameLevel::RebuildFromCopies(const T_BinaryData& frame) {
    if (!m_options.combineCopies || !m_acceptedAny || frame.Length() < kFrameOverhead ||
        frame[1] != static_cast<std::uint8_t>(m_acceptedSequence + 1) ||
        frame.Length() != frame[2] + kFrameOverhead) {
        return std::nullopt;
    }
    return m_damagedCopies.Add(frame);
}

void TFrameLevel::CountTransmission(std::uint8_t sequence) {
    if (m_acceptedAny && sequence == static_cast<std::uint8_t>(m_acceptedSequence + 1)) {
        ++m_transmissionsOfNext;
        m_lateRefusal.Stop();
    }
}

void TFrameLevel::SendNak(std::uint8_t sequence, bool poll) {
    if (m_acceptedAny && sequence == m_acceptedSequence) {
        // A damaged copy of the portion accepted last: nothing is missing, and a terminal
        // with nothing out would answer the NAK with an empty portion under that number.
        return;
    }
    if (m_acceptedAny && sequence == static_cast<std::uint8_t>(m_acceptedSequence + 1)) {
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

void TFrameLevel::TransmitNak(std::uint8_t sequence, bool poll) {
    if (m_acceptedAny && sequence == static_cast<std::uint8_t>(m_acceptedSequence + 1)) {
        ++m_naksForNext;
    }
    // A poll refuses nothing that arrived; it is not counted as a refusal.
    if (SendAuxFrame(TFrameHeader::kNak, sequence) && !poll) {
        ++m_counters.naksSent;
    }
}

void TFrameLevel::CheckOverdue() {
    for (std::size_t index = 0; index < m_inFlight.size();) {
        TPortionOut& out = m_inFlight[index];
        if (!out.timer->IsExpired()) {
            ++index;
            continue;
        }
        // Only the newest portion may go out again: a repeat behind a newer one would reach
        // the peer out of order.
        const bool newest = index + 1 == m_inFlight.size();
        if (out.portion.terms.repeatAfterTimeOut && newest) {
            if (out.transmissionsLeft == 0) {
                GiveUpOutgoing();  // the peer has not answered anything for a long time
                return;
            }
            Transmit(out);
            ++index;
            continue;
        }
        LosePortion(index);
    }
    if (m_inFlight.empty()) {
        SendNextDataPortion();
    }
}

bool TFrameLevel::IsReadyForPortion() const {
    return m_sendQueue.empty() &&
           (m_streamMode ? m_inFlight.size() < kStreamWindow : m_inFlight.empty());
}

std::optional<TPortionOutcome> TFrameLevel::TakeOutcome() {
    if (m_outcomes.empty()) {
        return std::nullopt;
    }
    const TPortionOutcome outcome = m_outcomes.front();
    m_outcomes.pop_front();
    return outcome;
}

unsigned long TFrameLevel::MillisecondsToNextDeadline() const {
    unsigned long soonest =
        std::min({m_ackRefreshes.MillisecondsToNext(), m_nextPortionPolls.MillisecondsToNext(),
                  m_lateRefusal.MillisecondsToNext()});
    for (const TPortionOut& out : m_inFlight) {
        const unsigned long timeout = AnswerTimeoutMs(out.portion.terms);
        const unsigned long elapsed = out.timer->GetElapsedMsec();
        soonest = std::min(soonest, elapsed >= timeout ? 0 : timeout - elapsed);
    }
    return soonest;
}

void TFrameLevel::ResetLink() {
    m_linkDown = true;
    DropOutgoing();
}

void TFrameLevel::DropOutgoing() {
    m_inFlight.clear();
    m_sendQueue.clear();
}

void TFrameLevel::GiveUpOutgoing() {
    ++m_counters.linkResets;
    while (!m_inFlight.empty()) {
        LosePortion(0);
    }
    for (const TQueuedPortion& queued : m_sendQueue) {
        if (queued.endsData) {
            Report(queued.terms, false);
        }
    }
    ResetLink();
}

void TFrameLevel::LosePortion(std::size_t index) {
    const TQueuedPortion lost = std::move(m_inFlight[index].portion);
    m_inFlight.erase(m_inFlight.begin() + static_cast<std::ptrdiff_t>(index));
    // The rest of the same data is of no use to the peer without this part. Data is queued
    // whole, so its rest sits at the front of the queue.
    bool endsData = lost.endsData;
    while (!endsData && !m_sendQueue.empty()) {
        endsData = m_sendQueue.front().endsData;
        m_sendQueue.pop_front();
    }
    Report(lost.terms, false);
}

void TFrameLevel::Report(const TPortionTerms& terms, bool delivered) {
    if (terms.tag != 0) {
        m_outcomes.push_back(TPortionOutcome{terms.tag, delivered});
    }
}

void TFrameLevel::ProcessReceivedFrame(const T_BinaryData& frame) {
    // A garbage byte in front of a data frame: the END before it was damaged, and the END
    // that closed the frame before opened this one.
    if (m_options.repairAnswers && HasGarbageFront(frame)) {
        ProcessReceivedFrame(frame.Copy(1, frame.Length() - 1));
        return;
    }
    if (frame[0] == TFrameHeader::kData && frame.Length() >= kNakableSize) {
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
        SendAuxFrame(TFrameHeader::kAck, header.sequence);
        if (m_options.doubleAcks) {
            SendAuxFrame(TFrameHeader::kAck, header.sequence);
        }
        AcceptDataFrame(header, whole.Copy(TFrameHeader::kSize, header.length));
        if (m_options.refreshAcks) {
            m_ackRefreshes.Start();
        }
        if (m_options.pollNext) {
            m_nextPortionPolls.Start();
        }
        return;
    }
    const std::optional<TFrameHeader> answer = ReadAnswer(frame);
    if (!answer) {
        // A data frame whose type byte was damaged: refusing it by its number makes the peer
        // send it again at once instead of waiting for its timer.
        if (m_options.repairAnswers && frame.Length() > kFrameOverhead &&
            DiffersInOneBit(frame[0], TFrameHeader::kData)) {
            CountTransmission(frame[1]);
            SendNak(frame[1], false);
        }
        return;
    }
    if (answer->type == TFrameHeader::kAck) {
        ProcessAck(answer->sequence);
    } else {
        ProcessNak(answer->sequence);
    }
}

std::optional<TFrameHeader> TFrameLevel::ReadAnswer(const T_BinaryData& frame) const {
    // A whole NAK whose number is one bit off that of the one portion out: the peer refused
    // that portion after its number was damaged on the way. With one portion out, every
    // answer speaks of its latest transmission, so the portion was not taken.
    if (m_options.repairAnswers && IsComplete(frame) && frame[0] == TFrameHeader::kNak &&
        HasGoodCrc(frame) && !m_streamMode && m_inFlight.size() == 1 &&
        DiffersInOneBit(frame[1], m_inFlight.front().sequence)) {
        return TFrameHeader(TFrameHeader::kNak, m_inFlight.front().sequence, 0);
    }
    if (IsComplete(frame) && IsAnswerType(frame[0])) {
        // The check of an answer is not needed to obey it, only to repair it.
        const TFrameHeader header(frame[0], frame[1], frame[2]);
        if (!m_options.repairAnswers || AnswersPortionOut(header) ||
            header.sequence == m_sequence || HasGoodCrc(frame)) {
            return header;
        }
    }
    if (!m_options.repairAnswers) {
        return std::nullopt;
    }
    // A garbage byte in front: the END before the answer was damaged.
    if (const auto glued = WholeAnswerAt(frame, 1); glued && AnswersPortionOut(*glued)) {
        return glued;
    }
    // One flipped bit in type, number or length. An ACK and a NAK differ in three bits, so no
    // single flip turns one into the other.
    if (frame.Length() >= kFrameOverhead) {
        const auto repaired = HeaderWithOneBitRepaired(frame);
        if (repaired && IsAnswerType(repaired->type) && repaired->length == 0 &&
            AnswersPortionOut(*repaired)) {
            return repaired;
        }
    }
    return std::nullopt;
}

void TFrameLevel::TakeFrameWaitingForEnd() {
    const unsigned long raw = m_slip->PendingRawLength();
    if (raw < kFrameOverhead) {
        m_pendingLengthChecked = 0;
        return;
    }
    if (raw == m_pendingLengthChecked) {
        return;
    }
    m_pendingLengthChecked = raw;
    T_BinaryData waiting = m_slip->PendingFrame(SLIP::kMaxRawFrameLength);
    // A garbage byte in front: the opening END was damaged as well. Taken now, the frame keeps
    // its time of arrival; a terminal whose timer runs out meanwhile drops what it queued behind
    // it, and the silence before its next bytes is what shows the cut.
    if (m_options.repairAnswers && HasGarbageFront(waiting)) {
        waiting = waiting.Copy(1, waiting.Length() - 1);
    }
    unsigned long length = 0;
    if (waiting.Length() >= kFrameOverhead && waiting[0] == TFrameHeader::kData) {
        if (IsComplete(waiting) && HasGoodCrc(waiting)) {
            length = waiting[2] + kFrameOverhead;
        }
    } else if (const auto answer = WholeAnswerAt(waiting, 0);
               answer && AnswersPortionOut(*answer)) {
        length = kFrameOverhead;
    }
    if (length == 0) {
        return;
    }
    // Its closing END was damaged. The next frame's opening END would close it, but the peer
    // sends nothing more before it hears from us, and drops its queue when its timer runs out.
    m_slip->DropPendingFrame();
    m_pendingLengthChecked = 0;
    ++m_counters.framesReceived;
    ProcessReceivedFrame(waiting.Copy(0, length));
}

bool TFrameLevel::AnswersPortionOut(const TFrameHeader& header) const {
    for (const TPortionOut& out : m_inFlight) {
        if (out.sequence == header.sequence) {
            return true;
        }
    }
    return false;
}

void TFrameLevel::ProcessAck(std::uint8_t sequence) {
    if (sequence == m_sequence) {
        m_linkDown = false;
    }
    for (std::size_t index = 0; index < m_inFlight.size(); ++index) {
        if (m_inFlight[index].sequence != sequence) {
            continue;
        }
        LoseOlderThan(index);
        const bool newest = m_inFlight.size() == 1;
        if (m_inFlight.front().portion.endsData) {
            Report(m_inFlight.front().portion.terms, true);
        }
        m_inFlight.pop_front();
        if (newest) {
            SendNextDataPortion();
        }
        return;
    }
    if (sequence == m_sequence && m_inFlight.empty()) {
        SendNextDataPortion();
    }
}

void TFrameLevel::ProcessNak(std::uint8_t sequence) {
    ++m_counters.naksReceived;
    for (std::size_t index = 0; index < m_inFlight.size(); ++index) {
        if (m_inFlight[index].sequence != sequence) {
            continue;
        }
        LoseOlderThan(index);
        if (m_inFlight.size() != 1) {
            // Sent again now, it would reach the peer behind the newer portions.
            LosePortion(0);
        } else if (m_inFlight.front().transmissionsLeft != 0) {
            Transmit(m_inFlight.front());
        } else {
            GiveUpOutgoing();
        }
        return;
    }
}

void TFrameLevel::LoseOlderThan(std::size_t index) {
    for (; index != 0; --index) {
        LosePortion(0);
    }
}

void TFrameLevel::AcceptDataFrame(const TFrameHeader& header, const T_BinaryData& data) {
    if (m_acceptedAny && header.sequence == m_acceptedSequence && data == m_acceptedData) {
        ++m_counters.repeatsReceived;
        return;  // our acknowledgement was lost and the peer repeated the portion
    }
    const auto next = static_cast<std::uint8_t>(m_acceptedSequence + 1);
    // A terminal sends a portion without data only when a NAK for its current number finds
    // nothing out. Under the number expected next that means its link reset dropped the
    // portion and everything queued behind it; under any other number it means nothing.
    if (data.Length() == 0 && m_acceptedAny && header.sequence != next) {
        return;
    }
    if (m_acceptedAny && (header.sequence != next || data.Length() == 0)) {
        m_breaks.push_back(m_received.Length());
    }
    m_acceptedAny = true;
    m_acceptedSequence = header.sequence;
    m_acceptedData = data;
    m_received += data;
    m_naksForNext = 0;
    m_transmissionsOfNext = 0;
    m_lateRefusal.Stop();
    m_damagedCopies.Clear();
}

bool TFrameLevel::DeliverFrame(TFrameHeader* header, const T_BinaryData& data) {
    const std::array<unsigned char, TFrameHeader::kSize> bytes{header->type, header->sequence,
                                                               header->length};
    T_BinaryData frame(bytes.data(), bytes.size());
    frame += data;
    frame += BinaryDataFromMsbWord(CountCrc(frame.GetData(), frame.Length()));
    if (!m_slip->SendData(frame)) {
        return false;
    }
    ++m_counters.framesSent;
    return true;
}

bool TFrameLevel::SendAuxFrame(unsigned char type, unsigned char sequence) {
    TFrameHeader header(type, sequence, 0);
    return DeliverFrame(&header, T_BinaryData());
}

void TFrameLevel::SendNextDataPortion() {
    if (m_sendQueue.empty()) {
        return;
    }
    ++m_sequence;
    m_inFlight.push_back(
        TPortionOut{std::move(m_sendQueue.front()), m_sequence, kTransmissionsPerPortion, nullptr});
    m_sendQueue.pop_front();
    Transmit(m_inFlight.back());
}

void TFrameLevel::Transmit(TPortionOut& out) {
    out.timer = m_timers.CreateTimer(AnswerTimeoutMs(out.portion.terms));
    m_counters.repeatsSent += out.transmissionsLeft < kTransmissionsPerPortion ? 1 : 0;
    --out.transmissionsLeft;
    TFrameHeader header(TFrameHeader::kData, out.sequence,
                        static_cast<unsigned char>(out.portion.data.Length()));
    const bool twice = m_options.doubleNotices && out.portion.terms.twiceAtOnce;
    if (!DeliverFrame(&header, out.portion.data) ||
        (twice && !DeliverFrame(&header, out.portion.data))) {
        GiveUpOutgoing();
    }
}
