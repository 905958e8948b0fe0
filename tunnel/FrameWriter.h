#pragma once

#include <cstdint>
#include <memory>

#include "base/BinaryData.h"
#include "platform/Timer.h"
#include "platform/TimerSource.h"
#include "tunnel/Slip.h"
#include "tunnel/TunnelCounters.h"

// The three bytes in front of every frame, in wire order.
struct TFrameHeader {
    static constexpr unsigned char kData = 0x41;
    static constexpr unsigned char kAck = 0x06;
    static constexpr unsigned char kNak = 0x15;
    static constexpr unsigned long kSize = 3;

    TFrameHeader(unsigned char frameType, unsigned char frameSequence, unsigned char dataLength)
        : type(frameType), sequence(frameSequence), length(dataLength) {}

    unsigned char type;
    unsigned char sequence;
    unsigned char length;
};

// A frame as it is sent: header, data, and the check of both, most significant byte first.
T_BinaryData BuildFrame(const TFrameHeader& header, const T_BinaryData& data);

// Writes frames through the SLIP layer and keeps an estimate of when the line has carried them:
// each byte takes its time at the line's speed, behind the bytes written before it. The estimate
// is never early on a line of that speed or faster; a slower line (a port set lower, a simulator
// that falls behind) carries the bytes later, which its users' allowance has to cover.
class TFrameWriter {
  public:
    // 115200 baud with a start and a stop bit per byte.
    static constexpr unsigned long kLineBytesPerSecond = 11520;

    // slip, timers and counters must outlive the writer; it counts the frames it writes there.
    TFrameWriter(SLIP& slip, ITimerSource& timers, TTunnelCounters& counters);

    // Writes one frame; true when the line took all of it.
    [[nodiscard]] bool Write(const TFrameHeader& header, const T_BinaryData& data);
    // Milliseconds since the writer was made: the clock of the estimate and of its users.
    unsigned long NowMs() const { return m_clock->GetElapsedMsec(); }
    // When, on that clock, the last byte written so far will have left.
    unsigned long LineFreeAtMs() const;
    // Line time of a number of bytes, rounded up.
    static unsigned long LineTimeMs(unsigned long bytes);

  private:
    SLIP& m_slip;
    std::unique_ptr<ITimer> m_clock;
    TTunnelCounters& m_counters;
    // When the bytes written so far will have left, in microseconds on the clock.
    std::uint64_t m_lineFreeAtUs = 0;
};
