#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/BinaryData.h"

// The "DD.MM HH:MM:SS" stamp of a log entry; the logs carry no year.
struct TStamp {
    int day = 0;
    int month = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;

    std::string Text() const;
    // A count of seconds that orders stamps within one year.
    long Key() const;
};

// One entry of a communication log.
struct TLogEntry {
    enum class TKind { Connected, Disconnected, Sent, Received, Error, Other };

    TStamp stamp;
    TKind kind = TKind::Other;
    std::string text;    // after "Connected" or "Error ", or the whole marker of another entry
    T_BinaryData bytes;  // the hex dump of a send or receive
    std::size_t line = 0;
};

// Where and why reading ended before the end of the text.
struct TLogStop {
    std::size_t line = 0;
    std::string reason;
};

struct TCommLog {
    std::vector<TLogEntry> entries;
    std::size_t skippedLines = 0;  // lines before the first entry (a file cut at its start)
    std::optional<TLogStop> stop;
};

// Reads the entries of a communication log. Reading ends at the first line
// that cannot belong to the log; the entries up to it, and the whole byte
// pairs of a row that is cut short, are kept.
TCommLog ReadCommLog(const std::string& text);
