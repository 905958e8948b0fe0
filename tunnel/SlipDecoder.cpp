#include "tunnel/SlipDecoder.h"

#include "tunnel/SlipCodec.h"

bool TSlipDecoder::Feed(unsigned char byte) {
    if (byte == TSlipCodec::END) {
        if (m_inFrame && m_received.Length() != 0) {
            m_inFrame = m_closingEndOpens;
            return true;
        }
        m_inFrame = true;  // an END with nothing collected opens a frame
    } else if (m_inFrame) {
        Collect(byte);
    } else {
        ++m_dropped;
    }
    return false;
}

T_BinaryData TSlipDecoder::TakeFrame() {
    T_BinaryData payload = TSlipCodec::Unescape(m_received);
    m_received.Clear();
    return payload;
}

unsigned long TSlipDecoder::TakeDroppedCount() {
    const unsigned long dropped = m_dropped;
    m_dropped = 0;
    return dropped;
}

void TSlipDecoder::Collect(unsigned char byte) {
    if (m_received.Length() == TSlipCodec::kMaxRawFrameLength) {
        m_dropped += m_received.Length() + 1;
        m_received.Clear();
        m_inFrame = false;
        return;
    }
    m_received.AddDirectBytes(byte, 1);
}
