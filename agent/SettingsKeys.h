#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// The lines of a settings file that the strict reader passes over although they were meant
// for it. A key is read only when it starts its line in the unnamed section (before any
// "[section]") and is followed at once by "=" or ":". A line whose key is one of the known keys
// in another case or spelling ("allowcall", "AllowCalls", "Allow Call"), with blanks before or
// after it, or under a section is a misspelling of that key; any other key is unknown. Lines
// that start with ";" or "#" are comments, blank lines and lines without "=" or ":" that name no
// known key are passed over. A UTF-8 byte-order mark in front of the file is skipped.
struct TKeyMisspelling {
    std::string key;   // the known key the line means
    std::string line;  // as written, blanks around it cut off
    unsigned number;   // counted from 1
};

struct TSettingsKeyCheck {
    std::vector<TKeyMisspelling> misspelt;
    // The unknown keys, as written, each once, in file order.
    std::vector<std::string> unknown;
    // The lines that name a known key as the reader requires, by key.
    std::map<std::string, unsigned> lines;

    // Whether some line misspells key.
    bool Misspells(std::string_view key) const;
};

TSettingsKeyCheck CheckSettingsKeys(std::string_view text, const std::vector<std::string>& keys);

// The text with a UTF-8 byte-order mark in front of it cut off.
std::string_view WithoutByteOrderMark(std::string_view text);
