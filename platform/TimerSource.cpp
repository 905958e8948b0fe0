#include "platform/TimerSource.h"

#include "platform/System.h"

namespace {

class TSystemTimers : public ITimerSource {
  public:
    std::unique_ptr<ITimer> CreateTimer(unsigned long milliseconds) override {
        return std::unique_ptr<ITimer>(ISystem::Instance()->CreateTimer(milliseconds));
    }
};

}  // namespace

ITimerSource& SystemTimers() {
    static TSystemTimers timers;
    return timers;
}
