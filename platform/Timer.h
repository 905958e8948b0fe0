#pragma once

#include <cstdint>

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

// A timer over any free-running millisecond counter that wraps after
// 0xFFFFFFFF. Start and deadline are counter values, the deadline computed
// modulo 2^32, so a period may straddle the counter's wrap.
class TPCTimer : public ITimer {
  public:
    bool IsExpired() override;
    void Restart(unsigned long milliseconds) override;
    unsigned long GetElapsedMsec() override;

    // The platform's free-running millisecond counter; only its low 32 bits
    // count.
    virtual unsigned long GetMsecCounter() = 0;

  protected:
    // Starts a period of that length at the counter's current value.
    void Setup(unsigned long milliseconds);

  private:
    std::uint32_t Now() { return static_cast<std::uint32_t>(GetMsecCounter()); }

    std::uint32_t m_start = 0;
    std::uint32_t m_deadline = 0;
};
