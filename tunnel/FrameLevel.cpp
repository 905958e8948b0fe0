#include "tunnel/FrameLevel.h"

#include <algorithm>

#include "tunnel/FrameBytes.h"

using namespace FrameBytes;

TFrameLevel::TFrameLevel(SLIP* slip, TFrameOptions options, ITimerSource& timers)
    : m_slip(slip),
      m_writer(*m_slip, timers, m_counters),
      m_receiver(m_writer, m_options, timers, m_counters) {
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
    m_sender.Queue(data, terms);
    return IsOnline();
}

T_BinaryData TFrameLevel::ReceiveData() {
    Process();
    T_BinaryData data = m_receiver.TakeData();
    if (data.Length() != 0) {
        m_sender.MarkLinkUp();
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
    m_receiver.SendRepeatsDue();
    m_sender.CheckOverdue();
}

unsigned long TFrameLevel::MillisecondsToNextDeadline() const {
    return std::min(m_sender.MillisecondsToNextDeadline(), m_receiver.MillisecondsToNextDeadline());
}

void TFrameLevel::ProcessReceivedFrame(const T_BinaryData& frame) {
    // A garbage byte in front of a data frame: the END before it was damaged, and the END
    // that closed the frame before opened this one.
    if (m_options.repairAnswers && HasGarbageFront(frame)) {
        ProcessReceivedFrame(frame.Copy(1, frame.Length() - 1));
        return;
    }
    if (frame[0] == TFrameHeader::kData) {
        const std::uint64_t accepted = m_receiver.PortionsAccepted();
        m_receiver.TakeDataFrame(frame);
        if (m_receiver.PortionsAccepted() != accepted) {
            m_sender.PeerSentData();
        }
        return;
    }
    if (m_sender.TakeAnswer(frame)) {
        return;
    }
    if (m_options.repairAnswers && frame.Length() > kOverhead &&
        DiffersInOneBit(frame[0], TFrameHeader::kData)) {
        m_receiver.TakeDamagedType(frame);
    }
}

void TFrameLevel::TakeFrameWaitingForEnd() {
    const unsigned long raw = m_slip->PendingRawLength();
    if (raw < kOverhead) {
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
    if (HasGarbageFront(waiting)) {
        waiting = waiting.Copy(1, waiting.Length() - 1);
    }
    unsigned long length = 0;
    if (waiting.Length() >= kOverhead && waiting[0] == TFrameHeader::kData) {
        if (IsComplete(waiting) && HasGoodCrc(waiting)) {
            length = waiting[2] + kOverhead;
        }
    } else {
        // An expected answer, at the front or behind the byte of a damaged END.
        for (unsigned long front = 0; front <= 1 && length == 0; ++front) {
            const auto answer = WholeAnswerAt(waiting, front);
            length = answer && m_sender.ExpectsAnswer(*answer) ? front + kOverhead : 0;
        }
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
