#include "tunnel/LineCutter.h"

#include "tunnel/SlipCodec.h"

void TLineCutter::Feed(const unsigned char* data, unsigned long length) {
    for (unsigned long i = 0; i < length; ++i) {
        const unsigned char byte = data[i];
        const bool wasInFrame = m_decoder.InFrame();
        // An overlong frame is dropped by the decoder as the byte past its limit arrives.
        const bool overlong = wasInFrame && byte != TSlipCodec::END &&
                              m_decoder.Collected().Length() == TSlipCodec::kMaxRawFrameLength;
        if (overlong) {
            m_garbage += m_decoder.Collected();
        }
        if (m_decoder.Feed(byte)) {
            TellGarbage();
            m_sink(TKind::Frame, m_decoder.TakeFrame());
        } else if (!wasInFrame && byte == TSlipCodec::END) {
            TellGarbage();  // a frame opens
        } else if (!m_decoder.InFrame()) {
            m_garbage.AddDirectBytes(byte, 1);
        }
        static_cast<void>(m_decoder.TakeDroppedCount());
    }
    TellGarbage();
}

void TLineCutter::TellGarbage() {
    if (m_garbage.Length() != 0) {
        m_sink(TKind::Garbage, m_garbage);
        m_garbage.Clear();
    }
}
