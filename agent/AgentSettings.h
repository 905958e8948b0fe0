#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The agent's own keys, "ComPort" in "pinpad.ini" and "Enabled" in "agent.ini", read
// strictly: a value must be a whole decimal number, with blanks (spaces, tabs) around it
// allowed. Anything else is a problem, told as one line naming the file, the key and the
// value. The files are found through the system's default file system.

// The number a value holds, or nothing when it is not a whole decimal number. Numbers beyond
// the 64-bit range give UINT64_MAX.
std::optional<std::uint64_t> ParseWholeNumber(std::string_view text);

// The serial port the settings name. No "pinpad.ini" gives port 0 without a problem; so does
// "ComPort=0". A file that exists but cannot be read, a missing key, and a value that is not a
// number from 0 to 65535 give port 0 and a problem.
// A second "ComPort" line is a notice: the first is used, as before.
struct TPortSetting {
    unsigned short port = 0;
    std::optional<std::string> problem;
    std::optional<std::string> notice;
};
TPortSetting ReadPortSetting();

// Whether the service is switched on. No "agent.ini" or no key means off without a problem;
// a value that is not a number means off, with a problem.
struct TEnabledSetting {
    bool enabled = false;
    std::optional<std::string> problem;
};
TEnabledSetting ReadEnabledSetting();

// The keys of "agent.ini" that set the traffic logs.
inline constexpr const char* kTrafficLogsKey = "TrafficLogs";
inline constexpr const char* kTrafficLogLimitKey = "TrafficLogLimit";

// What the traffic logs hold: "TrafficLogs" (0: no entries of sent and received bytes; any
// other number or no key: all entries) and "TrafficLogLimit" (KiB at which each traffic log is
// cut to its newer half; 0 or no key: no limit). A value that is not a whole number keeps that
// key's default, with a problem.
struct TTrafficLogSetting {
    bool payloads = true;
    std::uint64_t limitBytes = 0;
    std::optional<std::string> problem;
};
TTrafficLogSetting ReadTrafficLogSetting();

// The full path of a file of the default file system, for messages.
std::string SettingsPath(const char* name);
