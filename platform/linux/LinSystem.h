#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "base/Error.h"
#include "platform/System.h"
#include "platform/linux/LinFileSystem.h"

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
    // Sleeps kIdleMicroseconds: long enough that a loop of idle passes leaves the processor
    // to others, short enough to cost a loop that calls it once per pass nothing it notices.
    void Idle() override;
    static constexpr long kIdleMicroseconds = 100;
    bool WaitForActivity(TWaitSet& waits, unsigned long milliseconds) override;
    // kTraceDirectory is mounted where the file locations put the trace
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
    std::string m_traceDirectory = kTraceDirectory;
};

// Local calendar time as the numbers YYYYMMDD and HHMMSS; either pointer may
// be null.
void DateTimeFromLocalTime(const std::tm& local, unsigned long* date, unsigned long* time);

// The serial number in a disk's 512-byte identity block: its 20-character
// field at byte 20, up to the first zero byte, cut to fit `size` with the
// terminator.
void SerialNumberFromIdentity(const unsigned char* identity, char* buffer, unsigned int size);
