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

// Merging the files of one trace by time: the index of the list whose next item (next[i] of
// list i) has the earliest stamp, the first such list on a tie, so that each file's own order is
// kept; lists.size() once every list is used up.
template <typename TItem>
std::size_t EarliestNext(const std::vector<std::vector<TItem>>& lists,
                         const std::vector<std::size_t>& next) {
    std::size_t best = lists.size();
    for (std::size_t i = 0; i < lists.size(); ++i) {
        if (next[i] < lists[i].size() &&
            (best == lists.size() ||
             lists[i][next[i]].stamp.Key() < lists[best][next[best]].stamp.Key())) {
            best = i;
        }
    }
    return best;
}

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
