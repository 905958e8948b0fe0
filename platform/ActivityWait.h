#pragma once

#include "platform/TimerSource.h"
#include "platform/WaitSet.h"

class IConnection;

// One pause of a loop that polls connections until something happens. The loop adds what it
// waits for, and the pause sleeps on their descriptors, so it ends as soon as one of them has
// work instead of spinning. A connection without a descriptor of its own (a tunnelled or an
// in-memory one) moves only while the loop runs; with nothing to sleep on, the pause is the
// timer source's idle pause. A new pause for every pass: what was added holds for one Sleep.
class TActivityWait {
  public:
    // The source (not owned) sleeps.
    explicit TActivityWait(ITimerSource& source = SystemTimers()) : m_source(source) {}

    // Waits for the connection's descriptor, when it has one (see IPollable), to become ready
    // in those interests (READINESS_READABLE, READINESS_WRITABLE).
    void Add(IConnection& connection, unsigned interests);
    // Whether anything added has a descriptor to sleep on.
    bool HasDescriptors() const { return !m_waits.IsEmpty(); }
    // Sleeps until a descriptor added is ready or timeoutMs has passed, or, with no
    // descriptor, for the idle pause. True when a descriptor is ready.
    bool Sleep(unsigned long timeoutMs) { return m_source.Pause(m_waits, timeoutMs); }

  private:
    ITimerSource& m_source;
    TWaitSet m_waits;
};
