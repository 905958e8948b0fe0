#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "base/Error.h"
#include "platform/Device.h"
#include "platform/FileSystem.h"
#include "platform/Timer.h"

class TWaitSet;

// The name of the directory for traffic logs that the device layer mounts.
inline constexpr char cTraceDirectory[] = "Trace";

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
    // Gives up the processor once; what polling loops call between passes.
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
    static constexpr unsigned long cBacklightMsec = 30000;

    std::unique_ptr<IDeviceLayer> m_deviceLayer;
    IFileSystem* m_traceFileSystem = nullptr;
    bool m_backlightOn = false;
    std::unique_ptr<ITimer> m_backlightTimer;
};

// What every desktop computer shares: software update by renaming files
// through the shell, setting the clock through the shell, random bytes.
class TPCSystem : public TSystem {
  public:
    // Runs one command line through the shell; returns its status.
    using TShellRunner = std::function<int(const std::string& commandLine)>;

    void Shutdown() override;
    Error Restart() override;
    // When a non-empty "<program>.new" waits beside the program, keeps the
    // program as "<program>.old" and copies the new version in its place.
    Error UpdateSoftware(const char* fileName) override;
    // Passes "date D-M-YYYY" and "time H:M:S" to the shell.
    Error SetDateTime(unsigned long date, unsigned long time) override;
    // Fills 8 bytes from the operating system's cryptographic random source.
    Error GenerateRandom(unsigned char* buffer) override;
    void FillOsVersion(char* buffer, unsigned int size) override;

  protected:
    explicit TPCSystem(TShellRunner shell);

    // The full path of the running program.
    virtual void FillExecutableFileName(char* buffer, int size) = 0;
    virtual const char* GetFileDeletionCommand() = 0;
    virtual const char* GetFileRenameCommand() = 0;
    virtual const char* GetFileCopyCommand() = 0;

  private:
    TShellRunner m_shell;
};

// The Linux system.
class TLinSystem : public TPCSystem {
  public:
    // The system of the running program: files beside its executable, shell
    // commands through the shell.
    TLinSystem();
    // A system that acts as if the program's executable were
    // `executablePath`, and runs its shell commands through `shell`.
    TLinSystem(std::string executablePath, TShellRunner shell);
    // Where a program keeps its files when not beside its executable.
    struct TFileLocations {
        std::string settings;  // the default file system's directory
        std::string trace;     // the device layer's trace directory
    };
    // The system of the running program, with its files where `locations`
    // says (absolute paths; the trace directory is created when missing).
    explicit TLinSystem(const TFileLocations& locations);
    ~TLinSystem() override;

    Error GetDateTime(unsigned long* date, unsigned long* time) override;
    ITimer* CreateTimer(unsigned long milliseconds) override;
    void Wait(unsigned long milliseconds) override;
    // Yields the processor once.
    void Idle() override;
    bool WaitForActivity(TWaitSet& waits, unsigned long milliseconds) override;
    // cTraceDirectory is mounted where the file locations put the trace
    // directory; any other name as it is.
    Error MountFileSystem(const char* name, IFileSystem** fileSystem) override;
    IFileSystem* GetDefaultFileSystem() override;
    void FillModelName(char* buffer, unsigned int size) override;
    void GetScreenSize(unsigned short& width, unsigned short& height, bool& color) override;
    // The first disk's serial number, or "UNKNOWN".
    Error GetSerialNumber(char* buffer, unsigned int size) override;

  protected:
    void CreateDeviceLayer() override;
    void Backlight(bool on) override;
    void FillExecutableFileName(char* buffer, int size) override;
    const char* GetFileDeletionCommand() override { return "rm"; }
    const char* GetFileRenameCommand() override { return "mv -f"; }
    const char* GetFileCopyCommand() override { return "cp"; }

  private:
    std::string m_executablePath;
    TLinFileSystem m_defaultFileSystem;
    std::string m_traceDirectory = cTraceDirectory;
};

// Local calendar time as the numbers YYYYMMDD and HHMMSS; either pointer may
// be null.
void DateTimeFromLocalTime(const std::tm& local, unsigned long* date, unsigned long* time);

// The serial number in a disk's 512-byte identity block: its 20-character
// field at byte 20, up to the first zero byte, cut to fit `size` with the
// terminator.
void SerialNumberFromIdentity(const unsigned char* identity, char* buffer, unsigned int size);
