#pragma once

#include <cstdint>
#include <memory>

#include "platform/System.h"

// A millisecond clock that moves only when a test moves it, installed as the
// system's source of timers for as long as it lives:
//
//     TFakeClock clock;                         // installs itself
//     TFrameLevel level(...);                   // its timers read the fake clock
//     clock.Advance(2000);                      // now they have run out
//
// Timers come from CreateTimer as usual and may outlive the clock. Wait
// advances the clock instead of sleeping and Idle does nothing, so polling
// loops that wait run at full speed; every other service is passed to the
// system that was in place before, and that system is put back on destruction.
class TFakeClock : public ISystem {
public:
    explicit TFakeClock(std::uint32_t start = 0);
    ~TFakeClock() override;
    TFakeClock(const TFakeClock&) = delete;
    TFakeClock& operator=(const TFakeClock&) = delete;

    // Moves the clock on; it wraps after 0xFFFFFFFF like the real counter.
    void Advance(unsigned long milliseconds);
    std::uint32_t Now() const { return *m_now; }
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
    std::shared_ptr<std::uint32_t> m_now;
    unsigned long m_timersCreated = 0;
    // Serves everything but time; the installed replacement before this one,
    // or the process's own system.
    ISystem* m_base;
    ISystem* m_replaced;
};
