#include "line-sim/FrameCounter.h"

#include "tunnel/FrameLevel.h"
#include "tunnel/SlipCodec.h"

namespace {

// The check after a frame's data.
constexpr std::size_t kCrcSize = 2;

}  // namespace

void TFrameCounter::Feed(std::uint8_t byte) {
    if (byte == TSlipCodec::END) {
        // As a SLIP receiver sees it: an END opens a frame unless it closes one.
        m_inFrame = m_frame.empty();
        if (!m_frame.empty()) {
            CountFrame();
        }
        m_frame.clear();
        m_wireBytes = 0;
        m_escaped = false;
        return;
    }
    if (!m_inFrame) {
        return;  // between frames
    }
    ++m_wireBytes;
    if (byte == TSlipCodec::ESC) {
        m_escaped = true;
        return;
    }
    if (m_escaped) {
        byte = byte == TSlipCodec::ESC_END   ? TSlipCodec::END
               : byte == TSlipCodec::ESC_ESC ? TSlipCodec::ESC
                                             : byte;
        m_escaped = false;
    }
    m_frame.push_back(byte);
}

void TFrameCounter::CountFrame() {
    const std::uint64_t wire = m_wireBytes + 2;
    switch (m_frame[0]) {
        case TFrameHeader::kData:
            ++m_counts.dataFrames;
            m_counts.dataWireBytes += wire;
            if (m_frame.size() >= TFrameHeader::kSize + kCrcSize) {
                m_counts.dataPayloadBytes += m_frame.size() - TFrameHeader::kSize - kCrcSize;
                m_counts.emptyDataFrames += m_frame.size() == TFrameHeader::kSize + kCrcSize;
            }
            break;
        case TFrameHeader::kAck:
            ++m_counts.ackFrames;
            m_counts.ackWireBytes += wire;
            break;
        case TFrameHeader::kNak:
            ++m_counts.nakFrames;
            m_counts.nakWireBytes += wire;
            break;
        default:
            ++m_counts.otherFrames;
            break;
    }
}
