#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "agent/DestinationPolicy.h"
#include "platform/linux/LoggerToFile.h"

class IFileSystem;

// The agent's screen for the terminal's call and listen requests: the
// destination lists "AllowCall" and "AllowListen" of "agent.ini", read anew on
// every Reload. Entries it cannot read and requests it refuses are recorded in
// "AllowList.txt" in the trace directory.
class TDestinationFilter {
  public:
    TDestinationFilter();
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

    IFileSystem* m_trace;
    TLoggerToFile m_log;
    bool m_loaded = false;
    std::optional<std::string> m_callList;
    std::optional<std::string> m_listenList;
    TDestinationPolicy m_policy;
};
