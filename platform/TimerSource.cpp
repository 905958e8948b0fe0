#include "platform/TimerSource.h"

#include "platform/System.h"

namespace {

class TSystemTimers : public ITimerSource {
  public:
    std::unique_ptr<ITimer> CreateTimer(unsigned long milliseconds) override {
        return std::unique_ptr<ITimer>(ISystem::Instance()->CreateTimer(milliseconds));
    }
    bool Pause(TWaitSet& waits, unsigned long milliseconds) override {
        ISystem* system = ISystem::Instance();
        if (waits.IsEmpty()) {
            system->Idle();
            return false;
        }
        return system->WaitForActivity(waits, milliseconds);
    }
};

}  // namespace

ITimerSource& SystemTimers() {
    static TSystemTimers timers;
    return timers;
}
