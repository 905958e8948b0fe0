#pragma once

#include <memory>

#include "base/Error.h"
#include "platform/Device.h"
#include "platform/FileSystem.h"
#include "platform/Timer.h"

class TWaitSet;

// The name of the directory for traffic logs that the device layer mounts.
inline constexpr char kTraceDirectory[] = "Trace";

// The process-wide entry point to the platform: device layer, timers,
// sleeping, date and time, file systems and the machine's identity.
// Dates are YYYYMMDD (20190903), times HHMMSS (94501).
class ISystem {
  public:
    // The one system object of the process, made on the first call and
    // destroyed at normal process end.
    static ISystem* Instance();

    // Test seam: makes `replacement` (not owned) what Instance() returns,
    // until Install is called again; Install(nullptr) brings the process's
    // own system back. Returns the replacement installed before, or null.
    static ISystem* Install(ISystem* replacement);

    virtual void Init() = 0;
    virtual ~ISystem() = default;
    // Ends the process with status 0.
    virtual void Shutdown() = 0;
    virtual Error Restart() = 0;
    // Replaces the program's file by a waiting new version, if there is one.
    virtual Error UpdateSoftware(const char* fileName) = 0;
    // Made on the first call, owned by the system, never null afterwards.
    virtual IDeviceLayer* GetDeviceLayer() = 0;
    virtual Error SetDateTime(unsigned long date, unsigned long time) = 0;
    // Either pointer may be null and is then skipped.
    virtual Error GetDateTime(unsigned long* date, unsigned long* time) = 0;
    // A new timer already running for that period, owned by the caller.
    virtual ITimer* CreateTimer(unsigned long milliseconds) = 0;
    // Sleeps that long; a signal does not shorten the wait.
    virtual void Wait(unsigned long milliseconds) = 0;
    // Fills 8 random bytes.
    virtual Error GenerateRandom(unsigned char* buffer) = 0;
    // A short pause of a polling loop between passes, when it has nothing to sleep on; a
    // pause, never a bare yield, so that such a loop does not spin.
    virtual void Idle() = 0;
    // Sleeps until a descriptor of the set is ready or milliseconds have
    // passed, whichever comes first; what a loop calls when a pass found
    // nothing to do. True when a descriptor is ready.
    virtual bool WaitForActivity(TWaitSet& waits, unsigned long milliseconds) = 0;
    // A new file system for that directory, released with UnmountFileSystem.
    virtual Error MountFileSystem(const char* name, IFileSystem** fileSystem) = 0;
    virtual Error UnmountFileSystem(IFileSystem* fileSystem) = 0;
    // The file system beside the program, owned by the system.
    virtual IFileSystem* GetDefaultFileSystem() = 0;
    virtual void FillModelName(char* buffer, unsigned int size) = 0;
    virtual void FillOsVersion(char* buffer, unsigned int size) = 0;
    virtual void GetScreenSize(unsigned short& width, unsigned short& height, bool& color) = 0;
    virtual void StartInDebugMode() {}
    virtual Error OpenSystemOptions() = 0;
    virtual Error GetSerialNumber(char* buffer, unsigned int size) = 0;
    virtual void SetBacklight(bool on) = 0;
};

// Platform-neutral part of the system: owns the device layer and the trace
// file system, and switches a backlight off 30 seconds after it was last set.
class TSystem : public ISystem {
  public:
    ~TSystem() override;
    TSystem(const TSystem&) = delete;
    TSystem& operator=(const TSystem&) = delete;

    void Init() override;
    IDeviceLayer* GetDeviceLayer() override;
    // Switches the backlight off once its timer has run out.
    void Idle() override;
    Error UnmountFileSystem(IFileSystem* fileSystem) override;
    Error OpenSystemOptions() override;
    void SetBacklight(bool on) override;

  protected:
    TSystem() = default;

    // Mounts the trace file system and makes the device layer, through
    // AdoptDeviceLayer.
    virtual void CreateDeviceLayer() = 0;
    // Switches the hardware backlight.
    virtual void Backlight(bool on) = 0;

    // Takes ownership of the device layer and of the mounted trace file
    // system, which is released with UnmountFileSystem.
    void AdoptDeviceLayer(std::unique_ptr<IDeviceLayer> layer, IFileSystem* traceFileSystem);
    // Deletes the device layer with its devices, then releases the trace file
    // system. A derived system calls it from its destructor, while its own
    // operations still serve the devices that log as they close.
    void ReleaseDevices();

    bool IsBacklightTimeout();
    void RestartBacklightTimer();
    void SetBacklightState(bool on);

  private:
    static constexpr unsigned long kBacklightMs = 30000;

    std::unique_ptr<IDeviceLayer> m_deviceLayer;
    IFileSystem* m_traceFileSystem = nullptr;
    bool m_backlightOn = false;
    std::unique_ptr<ITimer> m_backlightTimer;
};
