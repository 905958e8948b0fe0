#include "tunnel/SlipDecoder.h"

#include <cstring>

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

unsigned long TSlipDecoder::FeedRun(const unsigned char* data, unsigned long length) {
    const auto* end = static_cast<const unsigned char*>(std::memchr(data, TSlipCodec::END, length));
    const auto run = static_cast<unsigned long>(end != nullptr ? end - data : length);
    if (!m_inFrame) {
        m_dropped += run;
    } else if (m_received.Length() + run <= TSlipCodec::kMaxRawFrameLength) {
        m_received.Add(data, run);
    } else {
        for (unsigned long i = 0; i < run; ++i) {
            if (m_inFrame) {
                Collect(data[i]);
            } else {
                ++m_dropped;
            }
        }
    }
    return run;
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
