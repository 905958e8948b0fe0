#pragma once

#include <memory>

#include "platform/Timer.h"

// Where a component gets its timers, so that whoever builds it decides which clock it runs on.
class ITimerSource {
  public:
    virtual ~ITimerSource() = default;
    // A new timer already running for that period.
    virtual std::unique_ptr<ITimer> CreateTimer(unsigned long milliseconds) = 0;
};

// The timers of the system that ISystem::Instance() returns at each call: the default of every
// component that takes a timer source.
ITimerSource& SystemTimers();
