#include "platform/linux/LinSystem.h"

#include <fcntl.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/ErrorCodes.h"
#include "platform/Descriptor.h"
#include "platform/DeviceLayer.h"
#include "platform/WaitSet.h"
#include "platform/linux/LinDeviceLayer.h"
#include "platform/linux/LinFileSystem.h"
#include "platform/linux/LinTimer.h"

namespace {

ISystem* g_replacement = nullptr;

constexpr unsigned int kRandomBytes = 8;
constexpr const char* kUnknownSerial = "UNKNOWN";
constexpr const char* kFirstDisk = "/dev/hda";
constexpr std::size_t kIdentitySize = 512;
constexpr std::size_t kSerialOffset = 20;
constexpr std::size_t kSerialLength = 20;

// Writes `text` cut to fit `size` bytes with its terminator.
void CopyText(const char* text, char* buffer, unsigned int size) {
    if (buffer != nullptr && size > 0) {
        std::snprintf(buffer, size, "%s", text);
    }
}

// One shell word: single quotes, with each single quote written as '\''.
std::string ShellQuoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Sleeps that long; a signal does not shorten the sleep.
void SleepFor(timespec request) {
    timespec remaining{};
    while (nanosleep(&request, &remaining) < 0 && errno == EINTR) {
        request = remaining;
    }
}

int RunInShell(const std::string& commandLine) {
    return std::system(commandLine.c_str());
}

}  // namespace

// --- ISystem ---------------------------------------------------------------

ISystem* ISystem::Instance() {
    if (g_replacement != nullptr) {
        return g_replacement;
    }
    static TLinSystem system;
    return &system;
}

ISystem* ISystem::Install(ISystem* replacement) {
    return std::exchange(g_replacement, replacement);
}

// --- TPCSystem -------------------------------------------------------------

TPCSystem::TPCSystem(TShellRunner shell) : m_shell(std::move(shell)) {}

void TPCSystem::Shutdown() {
    std::exit(0);
}

Error TPCSystem::Restart() {
    return Error(0);
}

Error TPCSystem::UpdateSoftware(const char*) {
    char path[PATH_MAX] = {};
    FillExecutableFileName(path, sizeof path);
    const char* separator = std::strrchr(path, '/');
    const char* backslash = std::strrchr(path, '\\');
    if (backslash != nullptr && (separator == nullptr || backslash > separator)) {
        separator = backslash;
    }
    if (separator == nullptr) {
        return Error(kErrorNotSupported);
    }
    const std::string name = separator + 1;
    if (GetDefaultFileSystem()->GetFileLength((name + cExecutableUpdate).c_str()) == 0) {
        return Error(0);
    }
    // The commands name the files by their full paths, so they act beside the
    // program, where the new version was found, whatever the current
    // directory is.
    const std::string program = ShellQuoted(path);
    const std::string old = ShellQuoted(std::string(path) + ".old");
    const std::string update = ShellQuoted(std::string(path) + cExecutableUpdate);
    m_shell(std::string(GetFileDeletionCommand()) + " " + old);
    m_shell(std::string(GetFileRenameCommand()) + " " + program + " " + old);
    m_shell(std::string(GetFileCopyCommand()) + " " + update + " " + program);
    return Error(0);
}

Error TPCSystem::SetDateTime(unsigned long date, unsigned long time) {
    auto day = static_cast<std::uint32_t>(date);
    auto clock = static_cast<std::uint32_t>(time);
    char command[64];
    std::snprintf(command, sizeof command, "date %u-%u-%u", day % 100, day % 10000 / 100,
                  day / 10000);
    m_shell(command);
    std::snprintf(command, sizeof command, "time %u:%u:%u", clock / 10000, clock / 100 % 100,
                  clock % 100);
    m_shell(command);
    return Error(0);
}

Error TPCSystem::GenerateRandom(unsigned char* buffer) {
    if (buffer == nullptr) {
        return Error(kErrorRandomFailed);
    }
    unsigned int filled = 0;
    while (filled < kRandomBytes) {
        ssize_t count = getrandom(buffer + filled, kRandomBytes - filled, 0);
        if (count < 0 && errno != EINTR) {
            return ErrnoError(kErrorRandomFailed);
        }
        filled += count > 0 ? static_cast<unsigned int>(count) : 0;
    }
    return Error(0);
}

void TPCSystem::FillOsVersion(char* buffer, unsigned int size) {
    if (buffer == nullptr || size == 0) {
        return;
    }
    // Zero-fills the rest of the buffer and always keeps a terminator.
    std::strncpy(buffer, "PC system", size);
    buffer[size - 1] = '\0';
}

// --- TLinSystem ------------------------------------------------------------

TLinSystem::TLinSystem() : TLinSystem(ExecutablePath(), RunInShell) {}

TLinSystem::TLinSystem(std::string executablePath, TShellRunner shell)
    : TPCSystem(std::move(shell)),
      m_executablePath(std::move(executablePath)),
      m_defaultFileSystem("", m_executablePath) {}

TLinSystem::TLinSystem(const TFileLocations& locations)
    : TPCSystem(RunInShell),
      m_executablePath(ExecutablePath()),
      m_defaultFileSystem(locations.settings.c_str(), m_executablePath),
      m_traceDirectory(locations.trace) {}

TLinSystem::~TLinSystem() {
    // Devices close their connections and log as they go; they may still ask
    // this system for the time and its file systems.
    ReleaseDevices();
}

void TLinSystem::CreateDeviceLayer() {
    IFileSystem* trace = nullptr;
    // Without a trace file system the devices log no traffic.
    static_cast<void>(MountFileSystem(kTraceDirectory, &trace));
    AdoptDeviceLayer(std::make_unique<TLinDeviceDebugLayer>(trace), trace);
}

void TLinSystem::Backlight(bool) {}

Error TLinSystem::GetDateTime(unsigned long* date, unsigned long* time) {
    timeval now{};
    gettimeofday(&now, nullptr);
    std::tm local{};
    time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    DateTimeFromLocalTime(local, date, time);
    return Error(0);
}

ITimer* TLinSystem::CreateTimer(unsigned long milliseconds) {
    return new TLinTimer(milliseconds);
}

void TLinSystem::Wait(unsigned long milliseconds) {
    SleepFor(timespec{static_cast<time_t>(milliseconds / 1000),
                      static_cast<long>(milliseconds % 1000) * 1000000});
}

void TLinSystem::Idle() {
    SleepFor(timespec{0, kIdleMicroseconds * 1000});
}

bool TLinSystem::WaitForActivity(TWaitSet& waits, unsigned long milliseconds) {
    return waits.Wait(milliseconds);
}

Error TLinSystem::MountFileSystem(const char* name, IFileSystem** fileSystem) {
    const bool trace = name != nullptr && std::strcmp(name, kTraceDirectory) == 0;
    *fileSystem = new TLinFileSystem(trace ? m_traceDirectory.c_str() : name, m_executablePath);
    return Error(0);
}

IFileSystem* TLinSystem::GetDefaultFileSystem() {
    return &m_defaultFileSystem;
}

void TLinSystem::FillModelName(char* buffer, unsigned int size) {
    CopyText("LINUX", buffer, size);
}

void TLinSystem::GetScreenSize(unsigned short& width, unsigned short& height, bool& color) {
    width = 0;
    height = 0;
    color = false;
}

Error TLinSystem::GetSerialNumber(char* buffer, unsigned int size) {
    const TDescriptor disk(open(kFirstDisk, O_RDONLY | O_CLOEXEC));
    if (!disk) {
        CopyText(kUnknownSerial, buffer, size);
        return Error(0);
    }
    unsigned char identity[kIdentitySize] = {};
    const bool identified = ioctl(disk.Get(), HDIO_GET_IDENTITY, identity) == 0;
    if (identified) {
        SerialNumberFromIdentity(identity, buffer, size);
    } else {
        CopyText(kUnknownSerial, buffer, size);
    }
    return Error(0);
}

void TLinSystem::FillExecutableFileName(char* buffer, int size) {
    if (size > 0) {
        CopyText(m_executablePath.c_str(), buffer, static_cast<unsigned int>(size));
    }
}

// --- helpers ---------------------------------------------------------------

void DateTimeFromLocalTime(const std::tm& local, unsigned long* date, unsigned long* time) {
    if (date != nullptr) {
        *date = static_cast<unsigned long>(local.tm_year * 10000 + local.tm_mon * 100 +
                                           local.tm_mday + 19000100);
    }
    if (time != nullptr) {
        *time =
            static_cast<unsigned long>(local.tm_hour * 10000 + local.tm_min * 100 + local.tm_sec);
    }
}

void SerialNumberFromIdentity(const unsigned char* identity, char* buffer, unsigned int size) {
    if (buffer == nullptr || size == 0) {
        return;
    }
    const char* field = reinterpret_cast<const char*>(identity + kSerialOffset);
    std::size_t length = std::min<std::size_t>(strnlen(field, kSerialLength), size - 1);
    std::memcpy(buffer, field, length);
    buffer[length] = '\0';
}
