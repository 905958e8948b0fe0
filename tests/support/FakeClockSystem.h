#pragma once

#include "platform/System.h"
#include "FakeClock.h"

// A system for tests whose timers read a fake clock. While it lives it is
// what ISystem::Instance() returns, so code that takes its timers from the
// system (frame timers, step timers) runs on test time:
//
//     TFakeClockSystem system;           // installs itself
//     TFrameLevel level(...);            // its frame timer reads the fake clock
//     system.Clock().Advance(2000);      // ... which has now run out
//
// Wait advances the clock instead of sleeping and Idle does nothing, so
// polling loops that wait for time to pass run at full speed. Every other
// service goes to the system that was in place before, which is put back on
// destruction. Timers read the clock by reference: delete them first.
class TFakeClockSystem : public ISystem {
public:
    TFakeClockSystem();
    ~TFakeClockSystem() override;
    TFakeClockSystem(const TFakeClockSystem&) = delete;
    TFakeClockSystem& operator=(const TFakeClockSystem&) = delete;

    TFakeClock& Clock() { return m_clock; }
    // Timers handed out so far.
    unsigned long TimersCreated() const { return m_timersCreated; }

    ITimer* CreateTimer(unsigned long milliseconds) override;
    void Wait(unsigned long milliseconds) override;
    void Idle() override;

    void Init() override;
    void Shutdown() override;
    Error Restart() override;
    Error UpdateSoftware(const char* fileName) override;
    IDeviceLayer* GetDeviceLayer() override;
    Error SetDateTime(unsigned long date, unsigned long time) override;
    Error GetDateTime(unsigned long* date, unsigned long* time) override;
    Error GenerateRandom(unsigned char* buffer) override;
    Error MountFileSystem(const char* name, IFileSystem** fileSystem) override;
    Error UnmountFileSystem(IFileSystem* fileSystem) override;
    IFileSystem* GetDefaultFileSystem() override;
    void FillModelName(char* buffer, unsigned int size) override;
    void FillOsVersion(char* buffer, unsigned int size) override;
    void GetScreenSize(unsigned short& width, unsigned short& height, bool& color) override;
    void StartInDebugMode() override;
    Error OpenSystemOptions() override;
    Error GetSerialNumber(char* buffer, unsigned int size) override;
    void SetBacklight(bool on) override;

private:
    TFakeClock m_clock;
    unsigned long m_timersCreated = 0;
    // Serves everything but time.
    ISystem* m_base;
    // The replacement installed before this one, put back on destruction.
    ISystem* m_replaced;
};
