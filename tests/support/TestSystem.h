#pragma once

#include <memory>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "TempDir.h"
#include "platform/System.h"
#include "platform/linux/LinSystem.h"

// Gives TTestSystem its home before the system itself is built.
struct TTestSystemHome {
    TempDir home;
};

// A system for tests, which ISystem::Instance() returns while it exists:
// construct one at the start of a test (or in a fixture) and every part of
// the code that asks for the system gets this one; its destruction brings
// the previous system back.
//
// - Time is a fake clock: timers from CreateTimer read Clock(), Wait(ms)
//   advances it by ms, and Idle() by IdleStep() (1 ms unless changed), so
//   loops that wait for a timer end without sleeping. WaitForActivity looks
//   at its descriptors without sleeping and, when none is ready, advances
//   the clock by the whole time-out; ActivityWaits() counts its calls.
// - GetDateTime answers the date and time set with SetDateTime (20190903,
//   094501 at first); nothing depends on the time of day.
// - Files: the system acts as if its program lay in a fresh temporary
//   directory, Home(); the default file system and mounted ones (the
//   device layer's "Trace") live there.
// - Devices: the real Linux device layer, unless the test installs its own
//   with SetDeviceLayer (see TTestDeviceLayer).
// - Shell commands are recorded in ShellCommands(), never run.
class TTestSystem : private TTestSystemHome, public TLinSystem {
  public:
    TTestSystem();
    ~TTestSystem() override;

    TFakeClock& Clock() { return m_clock; }
    void SetIdleStep(unsigned long milliseconds) { m_idleStep = milliseconds; }
    unsigned long IdleStep() const { return m_idleStep; }
    // The directory the program is taken to lie in.
    const std::string& Home() const { return home.Path(); }
    const std::vector<std::string>& ShellCommands() const { return m_shellCommands; }

    // Replaces the device layer (and every device it made) by `layer`.
    void SetDeviceLayer(std::unique_ptr<IDeviceLayer> layer);

    // Sets what GetDateTime answers.
    Error SetDateTime(unsigned long date, unsigned long time) override;
    Error GetDateTime(unsigned long* date, unsigned long* time) override;
    ITimer* CreateTimer(unsigned long milliseconds) override;
    void Wait(unsigned long milliseconds) override;
    void Idle() override;
    bool WaitForActivity(TWaitSet& waits, unsigned long milliseconds) override;
    int ActivityWaits() const { return m_activityWaits; }

  private:
    ISystem* m_previous;
    TFakeClock m_clock;
    unsigned long m_idleStep = 1;
    int m_activityWaits = 0;
    unsigned long m_date = 20190903;
    unsigned long m_time = 94501;
    std::vector<std::string> m_shellCommands;
};
