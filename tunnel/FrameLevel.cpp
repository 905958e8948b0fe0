#include "tunnel/FrameLevel.h"

#include <array>

#include "base/Conversions.h"
#include "platform/System.h"

namespace {

constexpr unsigned long kCrcSize = 2;
// Header and check of a frame; its data lies between them.
constexpr unsigned long kFrameOverhead = TFrameHeader::kSize + kCrcSize;

}  // namespace

TFrameLevel::TFrameLevel(SLIP* slip) : m_slip(slip) {}

TFrameLevel::~TFrameLevel() = default;

bool TFrameLevel::SendData(const T_BinaryData& data) {
    Process();
    m_sendQueue += data;
    if (m_streamMode || m_lastPortion.Length() == 0) {
        SendNextDataPortion();
    }
    return IsOnline();
}

T_BinaryData TFrameLevel::ReceiveData() {
    Process();
    T_BinaryData data = m_received;
    if (data.Length() != 0) {
        m_linkDown = false;
        m_received = T_BinaryData();
    }
    return data;
}

void TFrameLevel::Process() {
    const T_BinaryData frame = m_slip->ReceiveData();
    if (frame.Length() >= kFrameOverhead && frame.Length() >= frame[2] + kFrameOverhead) {
        ProcessReceivedFrame(frame);
    }
    if (m_frameTimer && m_frameTimer->IsExpired() && m_sendQueue.Length() != 0) {
        ResetLink();
    }
}

void TFrameLevel::ResetLink() {
    m_linkDown = true;
    m_lastPortion.Clear();
    m_sendQueue.Clear();
    DoneFrameTimer();
}

void TFrameLevel::ProcessReceivedFrame(const T_BinaryData& frame) {
    const TFrameHeader header(frame[0], frame[1], frame[2]);
    switch (header.type) {
        case TFrameHeader::kData: {
            const unsigned long checked = TFrameHeader::kSize + header.length;
            if (CountCrc(frame.GetData(), checked) == frame.MsbWord(checked)) {
                SendAuxFrame(TFrameHeader::kAck, header.sequence);
                m_received += frame.Copy(TFrameHeader::kSize, header.length);
            } else {
                SendAuxFrame(TFrameHeader::kNak, header.sequence);
            }
            break;
        }
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
                    ResetLink();
                }
            }
            break;
        default:
            break;
    }
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
    if (m_sendQueue.Length() == 0) {
        DoneFrameTimer();
        return;
    }
    ++m_sequence;
    m_retriesLeft = kTransmissionsPerPortion;
    m_lastPortion = m_sendQueue.Cut(0, kPortionSize);
    ResendLastData();
}

void TFrameLevel::ResendLastData() {
    InitFrameTimer();
    --m_retriesLeft;
    TFrameHeader header(TFrameHeader::kData, m_sequence,
                        static_cast<unsigned char>(m_lastPortion.Length()));
    if (!DeliverFrame(&header, m_lastPortion)) {
        ResetLink();
    }
}

void TFrameLevel::InitFrameTimer() {
    DoneFrameTimer();
    m_frameTimer.reset(ISystem::Instance()->CreateTimer(kFrameTimeoutMs));
}

void TFrameLevel::DoneFrameTimer() {
    m_frameTimer.reset();
}
