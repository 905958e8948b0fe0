#include "line-sim/FrameCounter.h"

namespace {

constexpr std::uint8_t kEnd = 0xC0;
constexpr std::uint8_t kEsc = 0xDB;
constexpr std::uint8_t cEscEnd = 0xDC;
constexpr std::uint8_t cEscEsc = 0xDD;

constexpr std::uint8_t kDataFrame = 0x41;
constexpr std::uint8_t kAckFrame = 0x06;
constexpr std::uint8_t kNakFrame = 0x15;

// Type, sequence and length before the data; the CRC after it.
constexpr std::size_t kHeaderSize = 3;
constexpr std::size_t kCrcSize = 2;

}  // namespace

void TFrameCounter::Feed(std::uint8_t byte) {
    if (byte == kEnd) {
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
    if (byte == kEsc) {
        m_escaped = true;
        return;
    }
    if (m_escaped) {
        byte = byte == cEscEnd ? kEnd : byte == cEscEsc ? kEsc : byte;
        m_escaped = false;
    }
    m_frame.push_back(byte);
}

void TFrameCounter::CountFrame() {
    const std::uint64_t wire = m_wireBytes + 2;
    switch (m_frame[0]) {
        case kDataFrame:
            ++m_counts.dataFrames;
            m_counts.dataWireBytes += wire;
            if (m_frame.size() >= kHeaderSize + kCrcSize) {
                m_counts.dataPayloadBytes += m_frame.size() - kHeaderSize - kCrcSize;
            }
            break;
        case kAckFrame:
            ++m_counts.ackFrames;
            m_counts.ackWireBytes += wire;
            break;
        case kNakFrame:
            ++m_counts.nakFrames;
            m_counts.nakWireBytes += wire;
            break;
        default:
            ++m_counts.otherFrames;
            break;
    }
}
