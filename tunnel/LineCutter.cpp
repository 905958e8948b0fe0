#include "tunnel/LineCutter.h"

#include <cstring>

#include "tunnel/SlipCodec.h"

void TLineCutter::Feed(const unsigned char* data, unsigned long length) {
    for (unsigned long i = 0; i < length;) {
        if (data[i] == TSlipCodec::END) {
            const bool opens = !m_decoder.InFrame();
            if (m_decoder.Feed(data[i])) {
                TellGarbage();
                m_sink(TKind::Frame, m_decoder.TakeFrame());
            } else if (opens) {
                TellGarbage();
            }
            ++i;
            continue;
        }
        // The bytes up to the next END: outside a frame they are garbage, and so is a frame
        // that they make too long for one, which the decoder then throws away whole.
        const auto* end =
            static_cast<const unsigned char*>(std::memchr(data + i, TSlipCodec::END, length - i));
        const auto run = static_cast<unsigned long>(end != nullptr ? end - (data + i) : length - i);
        const bool inFrame = m_decoder.InFrame();
        const bool overlong =
            inFrame && m_decoder.Collected().Length() + run > TSlipCodec::kMaxRawFrameLength;
        if (overlong) {
            m_garbage += m_decoder.Collected();
        }
        if (!inFrame || overlong) {
            m_garbage.Add(data + i, run);
        }
        i += m_decoder.FeedRun(data + i, run);
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
