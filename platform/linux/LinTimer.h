#pragma once

#include <time.h>

#include <cstdint>

#include "platform/Timer.h"

// The Linux timer: counts the monotonic clock in milliseconds, which neither
// jumps when the wall clock is set nor wraps before 2^32.
class TLinTimer : public TPCTimer {
  public:
    // Already running for that period.
    explicit TLinTimer(unsigned long milliseconds);

    unsigned long GetMsecCounter() override;

    // The counter value of a monotonic clock reading: milliseconds, low 32 bits.
    static std::uint32_t MsecCounterAt(const timespec& monotonic);
};
