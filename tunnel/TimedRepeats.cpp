#include "tunnel/TimedRepeats.h"

TTimedRepeats::TTimedRepeats(std::span<const unsigned long> dueMs, unsigned long limitMs,
                             ITimerSource& timers)
    : m_dueMs(dueMs), m_limitMs(limitMs), m_timers(timers) {}

void TTimedRepeats::Start() {
    m_since = m_timers.CreateTimer(0);
    m_taken = 0;
}

void TTimedRepeats::Stop() {
    m_since.reset();
}

bool TTimedRepeats::TakeDue() {
    if (!m_since) {
        return false;
    }
    const unsigned long elapsed = m_since->GetElapsedMsec();
    if (elapsed >= m_limitMs || m_taken == m_dueMs.size()) {
        Stop();
        return false;
    }
    if (elapsed < m_dueMs[m_taken]) {
        return false;
    }
    ++m_taken;
    return true;
}

unsigned long TTimedRepeats::MillisecondsToNext() const {
    if (!m_since || m_taken == m_dueMs.size()) {
        return kNoDeadline;
    }
    const unsigned long due = m_dueMs[m_taken];
    const unsigned long elapsed = m_since->GetElapsedMsec();
    return elapsed >= due ? 0 : due - elapsed;
}
