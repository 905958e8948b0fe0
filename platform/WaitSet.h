#pragma once

#include <poll.h>

#include <vector>

#include "platform/DescriptorReadiness.h"

// The descriptors a single-threaded loop may sleep on, each with what it is
// waiting for, so that the loop wakes as soon as any of them has work instead
// of sleeping blind.
class TWaitSet {
  public:
    // interests: READINESS_READABLE and/or READINESS_WRITABLE. A descriptor
    // added twice is waited on for both interests.
    void Add(int fd, unsigned interests);
    bool IsEmpty() const { return m_entries.empty(); }
    // Whether fd is waited on for (at least) these interests.
    bool Contains(int fd, unsigned interests) const;
    void Clear() { m_entries.clear(); }
    // Sleeps at most timeoutMs, less when a descriptor becomes ready (a
    // hang-up or error counts as ready). True when one is ready.
    bool Wait(unsigned long timeoutMs);

  private:
    std::vector<pollfd> m_entries;
};

// A connection over a descriptor that a loop may wait on through a TWaitSet.
class IPollable {
  public:
    // The descriptor, or -1 while there is none.
    virtual int GetDescriptor() const = 0;

  protected:
    ~IPollable() = default;
};
