#include "line-sim/FrameCounter.h"

namespace {

constexpr std::uint8_t cEnd = 0xC0;
constexpr std::uint8_t cEsc = 0xDB;
constexpr std::uint8_t cEscEnd = 0xDC;
constexpr std::uint8_t cEscEsc = 0xDD;

constexpr std::uint8_t cDataFrame = 0x41;
constexpr std::uint8_t cAckFrame = 0x06;
constexpr std::uint8_t cNakFrame = 0x15;

// Type, sequence and length before the data; the CRC after it.
constexpr std::size_t cHeaderSize = 3;
constexpr std::size_t cCrcSize = 2;

}  // namespace

void TFrameCounter::Feed(std::uint8_t byte) {
    if (byte == cEnd) {
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
    if (byte == cEsc) {
        m_escaped = true;
        return;
    }
    if (m_escaped) {
        byte = byte == cEscEnd ? cEnd : byte == cEscEsc ? cEsc : byte;
        m_escaped = false;
    }
    m_frame.push_back(byte);
}

void TFrameCounter::CountFrame() {
    const std::uint64_t wire = m_wireBytes + 2;
    switch (m_frame[0]) {
        case cDataFrame:
            ++m_counts.dataFrames;
            m_counts.dataWireBytes += wire;
            if (m_frame.size() >= cHeaderSize + cCrcSize) {
                m_counts.dataPayloadBytes += m_frame.size() - cHeaderSize - cCrcSize;
            }
            break;
        case cAckFrame:
            ++m_counts.ackFrames;
            m_counts.ackWireBytes += wire;
            break;
        case cNakFrame:
            ++m_counts.nakFrames;
            m_counts.nakWireBytes += wire;
            break;
        default:
            ++m_counts.otherFrames;
            break;
    }
}
