#include "agent/DestinationFilter.h"

#include <vector>

#include "agent/AgentSettings.h"
#include "agent/SettingsKeys.h"
#include "base/ErrorCodes.h"
#include "base/LogEvent.h"
#include "base/PrintableText.h"
#include "platform/System.h"
#include "platform/linux/IniFile.h"

namespace {

constexpr const char* kSettingsFile = "agent.ini";
constexpr const char* kCallKey = "AllowCall";
constexpr const char* kListenKey = "AllowListen";
constexpr const char* kEnabledKey = "Enabled";
constexpr const char* kLogName = "AllowList.txt";
// A terminal that keeps asking for a refused destination cannot fill the disk:
// past this size the log keeps its newer half.
constexpr unsigned long kLogSizeLimit = 1024 * 1024;
// What a missing key reads as; no value read from a file holds a line end.
constexpr const char* kMissing = "\n";

IFileSystem* MountTrace() {
    IFileSystem* trace = nullptr;
    // Without a trace file system the filter logs nothing.
    static_cast<void>(ISystem::Instance()->MountFileSystem("Trace", &trace));
    return trace;
}

std::optional<std::string> ReadList(const TIniFile& settings, const char* key) {
    std::string value = settings.GetString(key, kMissing);
    if (value == kMissing) {
        return std::nullopt;
    }
    return value;
}

// What a misspelt key line leads to.
std::string Consequence(const std::string& key) {
    if (key == kCallKey) {
        return "; no call is allowed until it is fixed";
    }
    if (key == kListenKey) {
        return "; no listen is allowed until it is fixed";
    }
    return "";
}

}  // namespace

TDestinationFilter::TDestinationFilter(TReporter report)
    : m_report(std::move(report)), m_trace(MountTrace()), m_log(kLogName, m_trace, kLogSizeLimit) {}

TDestinationFilter::~TDestinationFilter() {
    if (m_trace != nullptr) {
        // A release that fails at the end has nobody left to tell.
        static_cast<void>(ISystem::Instance()->UnmountFileSystem(m_trace));
    }
}

void TDestinationFilter::Reload() {
    const TIniFile settings(kSettingsFile);
    const TSettingsKeyCheck keys = CheckSettingsKeys(
        settings.Contents().ToString(),
        {kEnabledKey, kCallKey, kListenKey, kTrafficLogsKey, kTrafficLogLimitKey});
    std::set<std::string> misspellings;
    for (const TKeyMisspelling& misspelt : keys.misspelt) {
        const std::string text = "line " + std::to_string(misspelt.number) + " \"" +
                                 PrintableText(misspelt.line) + "\" is not read as " +
                                 misspelt.key +
                                 " (the key starts its line, spelt so, before any "
                                 "[section], with \"=\" right after it)" +
                                 Consequence(misspelt.key);
        if (m_toldMisspellings.count(text) == 0) {
            Report(text);
        }
        misspellings.insert(text);
    }
    m_toldMisspellings = std::move(misspellings);
    for (const std::string& key : keys.unknown) {
        if (m_toldUnknownKeys.insert(key).second) {
            Report("unknown key \"" + PrintableText(key) + "\" is ignored");
        }
    }

    // A misspelt list admits nothing: the line was surely meant to limit the terminal.
    std::optional<std::string> callList =
        keys.Misspells(kCallKey) ? std::string() : ReadList(settings, kCallKey);
    std::optional<std::string> listenList =
        keys.Misspells(kListenKey) ? std::string() : ReadList(settings, kListenKey);
    const bool callChanged = !m_loaded || callList != m_callList;
    const bool listenChanged = !m_loaded || listenList != m_listenList;
    if (!callChanged && !listenChanged) {
        return;
    }
    m_loaded = true;
    m_callList = std::move(callList);
    m_listenList = std::move(listenList);
    m_policy = TDestinationPolicy(m_callList, m_listenList);
    auto logBad = [this](const char* key, const std::vector<std::string>& entries) {
        for (const std::string& entry : entries) {
            Log(std::string("Ignored ") + key + " entry \"" + entry + "\"");
        }
    };
    if (callChanged) {
        logBad(kCallKey, m_policy.BadCallEntries());
    }
    if (listenChanged) {
        logBad(kListenKey, m_policy.BadListenEntries());
    }
}

unsigned long TDestinationFilter::Check(std::uint32_t socketId, std::uint32_t address,
                                        std::uint16_t port, bool calling) {
    const std::string id = "#" + std::to_string(socketId);
    if (calling) {
        if (m_policy.AdmitsCall(address, port)) {
            return 0;
        }
        Log("Refused call " + id + " to " + DottedAddress(address) + ":" + std::to_string(port));
        return kErrorCannotConnect;
    }
    if (m_policy.AdmitsListen(port)) {
        return 0;
    }
    Log("Refused listen " + id + " on port " + std::to_string(port));
    return kErrorCannotListen;
}

void TDestinationFilter::Report(const std::string& text) {
    Log(text);
    if (m_report) {
        m_report(SettingsPath(kSettingsFile) + ": " + text);
    }
}

void TDestinationFilter::Log(const std::string& text) {
    m_log.LogData(TLogEvent(0, reinterpret_cast<const unsigned char*>(text.c_str()), 0));
}
