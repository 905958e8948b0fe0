#pragma once

#include <cstddef>
#include <memory>
#include <span>

#include "platform/Timer.h"
#include "platform/TimerSource.h"

// Sends of one thing again at fixed times after a start, and none past a limit: the frame
// level's refreshes and polls, which would do harm if they reached the peer after its frame
// timer has run out. Invariant: while started, the next due time is the first not yet taken.
class TTimedRepeats {
  public:
    static constexpr unsigned long kNoDeadline = ~0UL;

    // dueMs ascending, each below limitMs; the array and timers must outlive this object.
    TTimedRepeats(std::span<const unsigned long> dueMs, unsigned long limitMs,
                  ITimerSource& timers);

    // Starts the count again from now.
    void Start();
    void Stop();
    // Whether a repeat is due now; one that is counts as sent. Past the limit, or with all
    // sent, it stops.
    [[nodiscard]] bool TakeDue();
    // Time until the next repeat is due; kNoDeadline when none is.
    unsigned long MillisecondsToNext() const;

  private:
    std::span<const unsigned long> m_dueMs;
    unsigned long m_limitMs;
    ITimerSource& m_timers;
    // Runs since the start; null when stopped.
    std::unique_ptr<ITimer> m_since;
    std::size_t m_taken = 0;
};
