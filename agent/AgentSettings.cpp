#include "agent/AgentSettings.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include "agent/SettingsKeys.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "platform/linux/IniFile.h"
#include "platform/linux/LinFileSystem.h"

namespace {

constexpr const char* kPortFile = "pinpad.ini";
constexpr const char* kPortKey = "ComPort";
constexpr const char* kEnabledFile = "agent.ini";
constexpr const char* kEnabledKey = "Enabled";
constexpr const char* kPayloadsKey = kTrafficLogsKey;
constexpr const char* kLogLimitKey = kTrafficLogLimitKey;
// The largest limit a log's trimming can hold: 4 GiB less 1 KiB.
constexpr std::uint64_t kLargestLogLimitKiB = 4 * 1024 * 1024 - 1;
constexpr std::uint64_t kHighestPort = std::numeric_limits<unsigned short>::max();

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Whether the file is there to be read; a file that is there but cannot be read is a problem.
bool FileIsThere(const char* name, std::optional<std::string>& problem) {
    IFileSystem* files = ISystem::Instance()->GetDefaultFileSystem();
    std::unique_ptr<IFileReadable> file(files->OpenForRead(name));
    int error = 0;
    if (!file) {
        const std::optional<Error> cause = files->GetLastError().Sub();
        error = cause ? static_cast<int>(cause->Code()) : 0;
        if (error == ENOENT) {
            return false;
        }
    } else {
        unsigned char first = 0;
        errno = 0;
        if (file->Read(&first, 1) >= 0) {
            return true;
        }
        error = errno;
    }
    problem = SettingsPath(name) + ": cannot be read: " + std::strerror(error);
    return true;
}

std::string Quoted(const std::string& value) {
    return "\"" + value + "\"";
}

}  // namespace

std::optional<std::uint64_t> ParseWholeNumber(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        value = value > (kMost - digit) / 10 ? kMost : value * 10 + digit;
    }
    return value;
}

std::string SettingsPath(const char* name) {
    char path[kMaxPathLength + 1];
    auto* files = dynamic_cast<TPCFileSystem*>(ISystem::Instance()->GetDefaultFileSystem());
    return files != nullptr ? files->MakeFullPath(path, name) : name;
}

TPortSetting ReadPortSetting() {
    TPortSetting setting;
    if (!FileIsThere(kPortFile, setting.problem) || setting.problem) {
        return setting;
    }
    const TIniFile settings(kPortFile);
    const std::optional<std::string> value = settings.FindString(kPortKey);
    const TSettingsKeyCheck keys = CheckSettingsKeys(settings.Contents().ToString(), {kPortKey});
    if (const auto count = keys.lines.find(kPortKey);
        count != keys.lines.end() && count->second > 1) {
        setting.notice = SettingsPath(kPortFile) + ": " + kPortKey + " is set " +
                         std::to_string(count->second) + " times; the first line is used";
    }
    if (!value) {
        setting.problem = SettingsPath(kPortFile) + ": " + kPortKey +
                          " is not set (it must start a line before any [section])";
        return setting;
    }
    const std::optional<std::uint64_t> port = ParseWholeNumber(*value);
    if (!port || *port > kHighestPort) {
        setting.problem = SettingsPath(kPortFile) + ": " + kPortKey + " " + Quoted(*value) +
                          " is not a port number (a whole number from 0 to 65535)";
        return setting;
    }
    setting.port = static_cast<unsigned short>(*port);
    return setting;
}

TEnabledSetting ReadEnabledSetting() {
    TEnabledSetting setting;
    const std::optional<std::string> value = TIniFile(kEnabledFile).FindString(kEnabledKey);
    if (!value) {
        return setting;
    }
    const std::optional<std::uint64_t> number = ParseWholeNumber(*value);
    if (!number) {
        setting.problem = SettingsPath(kEnabledFile) + ": " + kEnabledKey + " " + Quoted(*value) +
                          " is not a whole number; the service stays off";
        return setting;
    }
    setting.enabled = *number != 0;
    return setting;
}

TTrafficLogSetting ReadTrafficLogSetting() {
    TTrafficLogSetting setting;
    TIniFile settings(kEnabledFile);
    if (const std::optional<std::string> value = settings.FindString(kPayloadsKey)) {
        if (const std::optional<std::uint64_t> number = ParseWholeNumber(*value)) {
            setting.payloads = *number != 0;
        } else {
            setting.problem = SettingsPath(kEnabledFile) + ": " + kPayloadsKey + " " +
                              Quoted(*value) + " is not a whole number; traffic is logged";
        }
    }
    if (const std::optional<std::string> value = settings.FindString(kLogLimitKey)) {
        const std::optional<std::uint64_t> kib = ParseWholeNumber(*value);
        if (kib && *kib <= kLargestLogLimitKiB) {
            setting.limitBytes = *kib * 1024;
        } else if (!setting.problem) {
            setting.problem = SettingsPath(kEnabledFile) + ": " + kLogLimitKey + " " +
                              Quoted(*value) + " is not a size in KiB (a whole number from 0 to " +
                              std::to_string(kLargestLogLimitKiB) + "); the logs are not cut";
        }
    }
    return setting;
}
