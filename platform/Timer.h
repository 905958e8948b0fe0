#pragma once

// A polled millisecond timer, created by ISystem::CreateTimer and owned by
// its caller. A timer runs from its creation; there is no stopped state.
class ITimer {
  public:
    virtual ~ITimer() = default;
    // True once the period has run out, until the timer is restarted.
    virtual bool IsExpired() = 0;
    // Starts a new period of that length from now.
    virtual void Restart(unsigned long milliseconds) = 0;
    // Milliseconds since the timer was last started.
    virtual unsigned long GetElapsedMsec() = 0;
};
