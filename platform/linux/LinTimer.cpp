#include "platform/linux/LinTimer.h"

TLinTimer::TLinTimer(unsigned long milliseconds) {
    Setup(milliseconds);
}

unsigned long TLinTimer::GetMsecCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return MsecCounterAt(now);
}

std::uint32_t TLinTimer::MsecCounterAt(const timespec& monotonic) {
    auto milliseconds = static_cast<std::uint64_t>(monotonic.tv_sec) * 1000u +
                        static_cast<std::uint64_t>(monotonic.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(milliseconds);
}
