#include "tunnel/FrameLevel.h"

#include <array>

#include "base/Conversions.h"
#include "platform/System.h"

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

}  // namespace

TFrameLevel::TFrameLevel(SLIP* slip) : m_slip(slip) {}

TFrameLevel::~TFrameLevel() = default;

bool TFrameLevel::SendData(const T_BinaryData& data) {
    Process();
    return SendDataFirst(data);
}

bool TFrameLevel::SendDataFirst(const T_BinaryData& data) {
    for (unsigned long offset = 0; offset < data.Length(); offset += kPortionSize) {
        m_sendQueue.push_back(data.Copy(offset, kPortionSize));
    }
    if (m_streamMode || m_lastPortion.Length() == 0) {
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
        ++m_framesReceived;
        ProcessReceivedFrame(frame);
    }
    // A portion neither acknowledged nor refused in time is sent again: its frame or the
    // answer was lost, and the receiver recognises a repetition it has already accepted.
    if (m_frameTimer && m_lastPortion.Length() != 0 && m_frameTimer->IsExpired()) {
        if (m_retriesLeft != 0) {
            ResendLastData();
        } else {
            GiveUpOutgoing();
        }
    }
}

bool TFrameLevel::IsReadyForPortion() const {
    return m_sendQueue.empty() && (m_streamMode || m_lastPortion.Length() == 0);
}

bool TFrameLevel::TakeOutgoingLoss() {
    const bool lost = m_outgoingLost;
    m_outgoingLost = false;
    return lost;
}

unsigned long TFrameLevel::MillisecondsToNextDeadline() const {
    if (!m_frameTimer || m_lastPortion.Length() == 0) {
        return kNoDeadline;
    }
    const unsigned long elapsed = m_frameTimer->GetElapsedMsec();
    return elapsed >= kFrameTimeoutMs ? 0 : kFrameTimeoutMs - elapsed;
}

void TFrameLevel::ResetLink() {
    m_linkDown = true;
    m_lastPortion.Clear();
    m_sendQueue.clear();
    DoneFrameTimer();
}

void TFrameLevel::GiveUpOutgoing() {
    if (HasOutstanding()) {
        m_outgoingLost = true;
    }
    ResetLink();
}

void TFrameLevel::ProcessReceivedFrame(const T_BinaryData& frame) {
    if (frame[0] == TFrameHeader::kData && frame.Length() >= kNakableSize) {
        // A damaged data frame is refused by its number at once, so the sender repeats it
        // without waiting for its timer; a wrong number is ignored by the sender.
        if (!IsComplete(frame) || !HasGoodCrc(frame)) {
            SendAuxFrame(TFrameHeader::kNak, frame[1]);
            return;
        }
        const TFrameHeader header(frame[0], frame[1], frame[2]);
        SendAuxFrame(TFrameHeader::kAck, header.sequence);
        AcceptDataFrame(header, frame.Copy(TFrameHeader::kSize, header.length));
        return;
    }
    if (!IsComplete(frame)) {
        return;
    }
    const TFrameHeader header(frame[0], frame[1], frame[2]);
    switch (header.type) {
        case TFrameHeader::kAck:
            if (header.sequence == m_sequence) {
                m_linkDown = false;
                SendNextDataPortion();
            }
            break;
        case TFrameHeader::kNak:
            if (header.sequence == m_sequence) {
                if (m_retriesLeft != 0) {
                    ResendLastData();
                } else {
                    GiveUpOutgoing();
                }
            }
            break;
        default:
            break;
    }
}

void TFrameLevel::AcceptDataFrame(const TFrameHeader& header, const T_BinaryData& data) {
    if (m_acceptedAny && header.sequence == m_acceptedSequence && data == m_acceptedData) {
        return;  // our acknowledgement was lost and the peer repeated the portion
    }
    const auto next = static_cast<std::uint8_t>(m_acceptedSequence + 1);
    if (m_acceptedAny && header.sequence != next) {
        m_breaks.push_back(m_received.Length());
    }
    m_acceptedAny = true;
    m_acceptedSequence = header.sequence;
    m_acceptedData = data;
    m_received += data;
}

bool TFrameLevel::DeliverFrame(TFrameHeader* header, const T_BinaryData& data) {
    const std::array<unsigned char, TFrameHeader::kSize> bytes{header->type, header->sequence,
                                                               header->length};
    T_BinaryData frame(bytes.data(), bytes.size());
    frame += data;
    frame += BinaryDataFromMsbWord(CountCrc(frame.GetData(), frame.Length()));
    return m_slip->SendData(frame);
}

bool TFrameLevel::SendAuxFrame(unsigned char type, unsigned char sequence) {
    TFrameHeader header(type, sequence, 0);
    return DeliverFrame(&header, T_BinaryData());
}

void TFrameLevel::SendNextDataPortion() {
    m_lastPortion.Clear();
    if (m_sendQueue.empty()) {
        DoneFrameTimer();
        return;
    }
    ++m_sequence;
    m_retriesLeft = kTransmissionsPerPortion;
    m_lastPortion = m_sendQueue.front();
    m_sendQueue.pop_front();
    ResendLastData();
}

void TFrameLevel::ResendLastData() {
    InitFrameTimer();
    --m_retriesLeft;
    TFrameHeader header(TFrameHeader::kData, m_sequence,
                        static_cast<unsigned char>(m_lastPortion.Length()));
    if (!DeliverFrame(&header, m_lastPortion)) {
        GiveUpOutgoing();
    }
}

void TFrameLevel::InitFrameTimer() {
    DoneFrameTimer();
    m_frameTimer.reset(ISystem::Instance()->CreateTimer(kFrameTimeoutMs));
}

void TFrameLevel::DoneFrameTimer() {
    m_frameTimer.reset();
}
