#include "tunnel/FrameWriter.h"

#include <algorithm>
#include <array>

#include "base/Conversions.h"

T_BinaryData BuildFrame(const TFrameHeader& header, const T_BinaryData& data) {
    const std::array<unsigned char, TFrameHeader::kSize> bytes{header.type, header.sequence,
                                                               header.length};
    T_BinaryData frame(bytes.data(), bytes.size());
    frame += data;
    frame += BinaryDataFromMsbWord(CountCrc(frame.GetData(), frame.Length()));
    return frame;
}

TFrameWriter::TFrameWriter(SLIP& slip, ITimerSource& timers, TTunnelCounters& counters)
    : m_slip(slip), m_clock(timers.CreateTimer(0)), m_counters(counters) {}

bool TFrameWriter::Write(const TFrameHeader& header, const T_BinaryData& data) {
    const std::uint64_t nowUs = std::uint64_t{NowMs()} * 1000;
    const std::uint64_t before = m_slip.BytesWritten();
    const bool written = m_slip.SendData(BuildFrame(header, data));
    const std::uint64_t bytes = m_slip.BytesWritten() - before;
    m_lineFreeAtUs = std::max(m_lineFreeAtUs, nowUs) + bytes * 1000000 / kLineBytesPerSecond;
    if (written) {
        ++m_counters.framesSent;
    }
    return written;
}

unsigned long TFrameWriter::LineFreeAtMs() const {
    return static_cast<unsigned long>((m_lineFreeAtUs + 999) / 1000);
}

unsigned long TFrameWriter::LineTimeMs(unsigned long bytes) {
    return (bytes * 1000 + kLineBytesPerSecond - 1) / kLineBytesPerSecond;
}
