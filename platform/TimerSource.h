#pragma once

#include <memory>

#include "platform/Timer.h"
#include "platform/WaitSet.h"

// Where a component gets its timers and its pauses, so that whoever builds it decides which
// clock it runs on.
class ITimerSource {
  public:
    virtual ~ITimerSource() = default;
    // A new timer already running for that period.
    virtual std::unique_ptr<ITimer> CreateTimer(unsigned long milliseconds) = 0;
    // Sleeps until a descriptor of waits is ready or milliseconds have passed; with an empty
    // set, the short idle pause of a polling loop instead. True when a descriptor is ready.
    // TActivityWait builds the set.
    virtual bool Pause(TWaitSet& waits, unsigned long milliseconds) = 0;
};

// The timers and pauses of the system that ISystem::Instance() returns at each call
// (CreateTimer, WaitForActivity, Idle): the default of every component that takes a timer
// source.
ITimerSource& SystemTimers();
