#pragma once

#include "platform/WaitSet.h"

class IConnection;
class ISystem;

// One pause of a loop that polls connections until something happens. The loop adds what it
// waits for, and the pause sleeps on their descriptors, so it ends as soon as one of them has
// work instead of spinning. A connection without a descriptor of its own (a tunnelled or an
// in-memory one) moves only while the loop runs; with nothing to sleep on, the pause is the
// system's Idle. A new pause for every pass: what was added holds for one Sleep.
class TActivityWait {
  public:
    // The system (not owned) sleeps; null stands for the process's own.
    explicit TActivityWait(ISystem* system = nullptr);

    // Waits for the connection's descriptor, when it has one (see IPollable), to become ready
    // in those interests (READINESS_READABLE, READINESS_WRITABLE).
    void Add(IConnection& connection, unsigned interests);
    // Whether anything added has a descriptor to sleep on.
    bool HasDescriptors() const { return !m_waits.IsEmpty(); }
    // Sleeps until a descriptor added is ready or timeoutMs has passed, or, with no
    // descriptor, for the system's Idle. True when a descriptor is ready.
    bool Sleep(unsigned long timeoutMs);

  private:
    ISystem* m_system;
    TWaitSet m_waits;
};
