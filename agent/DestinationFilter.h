#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "agent/DestinationPolicy.h"
#include "platform/linux/LoggerToFile.h"

class IFileSystem;

// The agent's screen for the terminal's call and listen requests: the
// destination lists "AllowCall" and "AllowListen" of "agent.ini", read anew on
// every Reload. Entries it cannot read and requests it refuses are recorded in
// "AllowList.txt" in the trace directory. A line that misspells one of the
// file's keys (see CheckSettingsKeys) is reported there and to the reporter;
// a misspelt list admits nothing until the line is fixed, so that a list
// meant to limit the terminal never lets everything through. Unknown keys are
// reported once.
class TDestinationFilter {
  public:
    using TReporter = std::function<void(const std::string& line)>;

    explicit TDestinationFilter(TReporter report = nullptr);
    ~TDestinationFilter();
    TDestinationFilter(const TDestinationFilter&) = delete;
    TDestinationFilter& operator=(const TDestinationFilter&) = delete;

    // Reads both lists again. A list that changed since the last reading is
    // parsed anew, and its unreadable entries are logged once.
    void Reload();
    // The verdict on one request, as the tunnel asks for it: 0 lets it go
    // ahead; a refusal is logged and answered with the error the terminal
    // knows for a call or listen that failed.
    unsigned long Check(std::uint32_t socketId, std::uint32_t address, std::uint16_t port,
                        bool calling);

  private:
    void Log(const std::string& text);
    void Report(const std::string& text);

    TReporter m_report;
    IFileSystem* m_trace;
    TLoggerToFile m_log;
    bool m_loaded = false;
    std::optional<std::string> m_callList;
    std::optional<std::string> m_listenList;
    TDestinationPolicy m_policy;
    // The misspellings told at the last reading, and every unknown key told.
    std::set<std::string> m_toldMisspellings;
    std::set<std::string> m_toldUnknownKeys;
};
