#include "tunnel/FrameSender.h"

#include <algorithm>

#include "tunnel/FrameBytes.h"

using namespace FrameBytes;

TFrameSender::TFrameSender(TFrameWriter& writer, const TFrameOptions& options,
                           TTunnelCounters& counters)
    : m_writer(writer), m_options(options), m_counters(counters) {}

void TFrameSender::Queue(const T_BinaryData& data, TPortionTerms terms) {
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
}

bool TFrameSender::TakeAnswer(const T_BinaryData& frame) {
    // A probe's answer is read only whole, so no damaged answer of a portion is taken for it.
    if (const std::optional<std::uint8_t> probe = ReadProbeAnswer(frame)) {
        ProcessProbeAnswer(*probe);
        return true;
    }
    if (const std::optional<TFrameHeader> answer = ReadPortionAnswer(frame, AnswerContext())) {
        if (answer->type == TFrameHeader::kAck) {
            ProcessAck(answer->sequence);
        } else {
            ProcessNak(answer->sequence);
        }
        return true;
    }
    for (TPortionOut& out : m_inFlight) {
        out.question.unreadable.Add(frame);
    }
    return false;
}

bool TFrameSender::ExpectsAnswer(const TFrameHeader& header) const {
    if (AnswersPortionOut(header)) {
        return true;
    }
    return m_probes.IsOut(header.sequence);
}

TAnswerContext TFrameSender::AnswerContext() const {
    TAnswerContext context{m_options.repairAnswers, {}, m_sequence, m_streamMode};
    for (const TPortionOut& out : m_inFlight) {
        context.portionsOut.push_back(out.sequence);
    }
    return context;
}

std::optional<std::uint8_t> TFrameSender::ReadProbeAnswer(const T_BinaryData& frame) const {
    for (unsigned long offset = 0; offset <= 1; ++offset) {
        const std::optional<TFrameHeader> answer = WholeAnswerAt(frame, offset);
        if (answer && ExpectsAnswer(*answer) && !AnswersPortionOut(*answer)) {
            return answer->sequence;
        }
    }
    return std::nullopt;
}

bool TFrameSender::AnswersPortionOut(const TFrameHeader& header) const {
    return std::any_of(m_inFlight.begin(), m_inFlight.end(),
                       [&](const TPortionOut& out) { return out.sequence == header.sequence; });
}

void TFrameSender::ProcessAck(std::uint8_t sequence) {
    if (sequence == m_sequence) {
        m_linkDown = false;
    }
    for (std::size_t index = 0; index < m_inFlight.size(); ++index) {
        if (m_inFlight[index].sequence != sequence) {
            continue;
        }
        index = MissedAnswersBefore(index);
        const bool newest = index + 1 == m_inFlight.size();
        if (m_inFlight[index].portion.endsData) {
            Report(m_inFlight[index].portion.terms, true);
        }
        m_inFlight.erase(m_inFlight.begin() + static_cast<std::ptrdiff_t>(index));
        if (newest) {
            SendNextDataPortion();
        }
        return;
    }
    if (sequence == m_sequence && m_inFlight.empty()) {
        SendNextDataPortion();
    }
}

void TFrameSender::ProcessNak(std::uint8_t sequence) {
    ++m_counters.naksReceived;
    for (std::size_t index = 0; index < m_inFlight.size(); ++index) {
        if (m_inFlight[index].sequence != sequence) {
            continue;
        }
        index = MissedAnswersBefore(index);
        if (!ProbesOn() && m_inFlight.size() != 1) {
            // Sent again now, it would reach the peer behind the newer portions.
            LosePortion(index);
            return;
        }
        // With probes, each portion holds whole packets and at most one is out per connection,
        // so one sent again behind newer portions puts no connection's bytes out of order.
        Repeat(index);
        return;
    }
}

std::size_t TFrameSender::MissedAnswersBefore(std::size_t index) {
    if (!ProbesOn()) {
        for (; index != 0; --index) {
            LosePortion(0);
        }
        return 0;
    }
    // Their answers were lost, or they were never read: ask now.
    const unsigned long now = m_writer.NowMs();
    for (std::size_t older = 0; older < index; ++older) {
        m_inFlight[older].answerDueMs = std::min(m_inFlight[older].answerDueMs, now);
    }
    return index;
}

void TFrameSender::ProcessProbeAnswer(std::uint8_t number) {
    const TProbes::TAnswered answered = m_probes.Answer(number, m_writer.NowMs());
    for (std::size_t index = 0; index < m_inFlight.size();) {
        TQuestion& question = m_inFlight[index].question;
        if (question.askedBy == 0 || question.open || question.askedBy > answered.serial) {
            ++index;
            continue;
        }
        // The questions it asked first were lost with an earlier probe, or a late answer may
        // follow a cut that took the portion's answer too.
        if (question.askedBy < answered.serial || !answered.prompt) {
            question.open = true;
            ++index;
            continue;
        }
        if (question.unreadable.IsEmpty()) {
            Repeat(index);  // never read: the peer holds nothing of it
            continue;
        }
        const TPortionOut& out = m_inFlight[index];
        const std::optional<unsigned char> read = question.unreadable.Read(
            out.sequence, m_options.doubleNotices && out.portion.terms.twiceAtOnce);
        if (!read) {
            question.open = true;
            ++index;
        } else if (*read == TFrameHeader::kAck) {
            ProcessAck(out.sequence);  // removes it; the ones behind it move up
        } else {
            ProcessNak(out.sequence);
            ++index;
        }
    }
}

void TFrameSender::CheckOverdue() {
    const unsigned long now = m_writer.NowMs();
    for (std::size_t index = 0; index < m_inFlight.size();) {
        TPortionOut& out = m_inFlight[index];
        if (now - out.sentMs < TimeoutMs(out)) {
            ++index;
            continue;
        }
        // Only the newest portion may go out again without asking: a repeat behind a newer
        // one would reach the peer after it.
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
    SendProbeIfDue();
}

unsigned long TFrameSender::TimeoutMs(const TPortionOut& out) const {
    return out.portion.terms.repeatAfterTimeOut ? kFrameTimeoutMs : kUnrepeatedTimeoutMs;
}

void TFrameSender::SendProbeIfDue() {
    if (!ProbesOn()) {
        return;
    }
    const unsigned long now = m_writer.NowMs();
    bool firstDue = false;
    bool anyAsked = false;
    for (const TPortionOut& out : m_inFlight) {
        firstDue = firstDue || (out.question.askedBy == 0 && now >= out.answerDueMs);
        anyAsked = anyAsked || out.question.askedBy != 0;
    }
    if (!anyAsked) {
        m_probes.StopLater();
    }
    // Later probes get a portion waiting in the peer's receiver for a damaged closing END read,
    // and a peer that looked away answers the portion as soon as it is back.
    const bool laterDue = anyAsked && m_probes.TakeLaterDue(now);
    if (firstDue || laterDue) {
        SendProbe();
    }
}

void TFrameSender::SendProbe() {
    const std::uint8_t number = m_probes.ChooseNumber(m_sequence, kStreamWindow);
    // A probe the line did not take is as good as lost: its answer never comes.
    if (m_writer.Write(TFrameHeader(TFrameHeader::kData, number, 0), {})) {
        ++m_counters.probesSent;
    }
    const std::uint64_t serial =
        m_probes.Sent(number, m_writer.LineFreeAtMs() + kAnswerAllowanceMs);
    for (TPortionOut& out : m_inFlight) {
        if (out.question.askedBy == 0) {
            out.question.askedBy = serial;
        }
    }
}

bool TFrameSender::IsReadyForPortion() const {
    return m_sendQueue.empty() &&
           (m_streamMode ? m_inFlight.size() < kStreamWindow : m_inFlight.empty());
}

std::optional<TPortionOutcome> TFrameSender::TakeOutcome() {
    if (m_outcomes.empty()) {
        return std::nullopt;
    }
    const TPortionOutcome outcome = m_outcomes.front();
    m_outcomes.pop_front();
    return outcome;
}

unsigned long TFrameSender::MillisecondsToNextDeadline() const {
    const unsigned long now = m_writer.NowMs();
    const auto until = [&](unsigned long at) { return at <= now ? 0 : at - now; };
    unsigned long soonest = kNoDeadline;
    bool anyAsked = false;
    for (const TPortionOut& out : m_inFlight) {
        soonest = std::min(soonest, until(out.sentMs + TimeoutMs(out)));
        if (ProbesOn() && out.question.askedBy == 0) {
            soonest = std::min(soonest, until(out.answerDueMs));
        }
        anyAsked = anyAsked || out.question.askedBy != 0;
    }
    if (ProbesOn() && anyAsked && m_probes.NextLaterMs() != TProbes::kNoDeadline) {
        soonest = std::min(soonest, until(m_probes.NextLaterMs()));
    }
    return soonest;
}

void TFrameSender::ResetLink() {
    m_linkDown = true;
    DropOutgoing();
}

void TFrameSender::DropOutgoing() {
    m_inFlight.clear();
    m_sendQueue.clear();
}

void TFrameSender::GiveUpOutgoing() {
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

void TFrameSender::PeerSentData() {
    for (TPortionOut& out : m_inFlight) {
        out.peerSpokeSince = true;
    }
}

void TFrameSender::Repeat(std::size_t index) {
    TPortionOut& out = m_inFlight[index];
    if (out.portion.terms.resetsPeer &&
        (index + 1 != m_inFlight.size() || out.peerSpokeSince)) {
        LosePortion(index);
    } else if (out.transmissionsLeft != 0) {
        Transmit(out);
    } else if (m_inFlight.size() == 1) {
        GiveUpOutgoing();
    } else {
        LosePortion(index);
    }
}

void TFrameSender::LosePortion(std::size_t index) {
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

void TFrameSender::Report(const TPortionTerms& terms, bool delivered) {
    if (terms.tag != 0) {
        m_outcomes.push_back(TPortionOutcome{terms.tag, delivered});
    }
}

void TFrameSender::SendNextDataPortion() {
    if (m_sendQueue.empty()) {
        return;
    }
    ++m_sequence;
    m_inFlight.push_back(TPortionOut{
        std::move(m_sendQueue.front()), m_sequence, kTransmissionsPerPortion, 0, 0, {}, false});
    m_sendQueue.pop_front();
    Transmit(m_inFlight.back());
}

void TFrameSender::Transmit(TPortionOut& out) {
    m_counters.repeatsSent += out.transmissionsLeft < kTransmissionsPerPortion ? 1 : 0;
    --out.transmissionsLeft;
    out.sentMs = m_writer.NowMs();
    out.question = TQuestion();
    const TFrameHeader header(TFrameHeader::kData, out.sequence,
                              static_cast<unsigned char>(out.portion.data.Length()));
    const bool twice = m_options.doubleNotices && out.portion.terms.twiceAtOnce;
    const bool written = m_writer.Write(header, out.portion.data) &&
                         (!twice || m_writer.Write(header, out.portion.data));
    out.answerDueMs = m_writer.LineFreeAtMs() + kAnswerAllowanceMs;
    if (!written) {
        GiveUpOutgoing();
    }
}
