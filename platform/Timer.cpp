#include "platform/Timer.h"

void TPCTimer::Setup(unsigned long milliseconds) {
    m_start = Now();
    m_deadline = m_start + static_cast<std::uint32_t>(milliseconds);
}

void TPCTimer::Restart(unsigned long milliseconds) {
    Setup(milliseconds);
}

bool TPCTimer::IsExpired() {
    std::uint32_t now = Now();
    if (m_deadline >= m_start) {
        // Expired at the deadline, and also once the counter has wrapped past
        // it back below the start.
        return now >= m_deadline || now < m_start;
    }
    // The deadline wrapped: the counter must wrap too and then reach it.
    return now >= m_deadline && now < m_start;
}

unsigned long TPCTimer::GetElapsedMsec() {
    // Modulo 2^32, so the count stays exact across the counter's wrap: from
    // 0xFFFFFFFF to 0 one millisecond has passed, not none.
    return static_cast<std::uint32_t>(Now() - m_start);
}
