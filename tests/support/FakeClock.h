#pragma once

#include <cstdint>

#include "platform/Timer.h"

// A 32-bit millisecond counter that moves only when a test moves it; it
// wraps after 0xFFFFFFFF like the platform's counter.
class TFakeClock {
  public:
    std::uint32_t Now() const { return m_now; }
    void Set(std::uint32_t now) { m_now = now; }
    void Advance(unsigned long milliseconds) { m_now += static_cast<std::uint32_t>(milliseconds); }

  private:
    std::uint32_t m_now = 0;
};

// A timer that reads a fake clock; already running for its period.
class TFakeTimer : public TPCTimer {
  public:
    TFakeTimer(const TFakeClock& clock, unsigned long milliseconds) : m_clock(clock) {
        Setup(milliseconds);
    }

    unsigned long GetMsecCounter() override { return m_clock.Now(); }

  private:
    const TFakeClock& m_clock;
};
