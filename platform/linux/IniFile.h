#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/BinaryData.h"

// A settings file of the INI kind, read through the system's default file
// system. The whole file is loaded once at construction; lookups answer from
// that copy, so a new object is needed to see later changes on disk.
//
// Format: lines end at CR, LF, CR LF or LF CR. A "[name]" line selects a
// section; lines before the first header form the unnamed section "". A key
// line starts with the key in the first column, followed at once by "=" or
// ":"; the value starts after any further ":,= \t" characters. There are no
// comments and no escapes, and the first matching key wins.
class TIniFile {
  public:
    explicit TIniFile(const char* name);

    // Reads the file again; contents stay as they were when it cannot be
    // opened. A UTF-8 byte-order mark in front of the text is skipped.
    void LoadData();
    // The text as read.
    const T_BinaryData& Contents() const { return m_contents; }

    std::string GetSectionString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const;
    // Looks in the unnamed section only.
    std::string GetString(const std::string& key, const std::string& defaultValue) const;
    // The value of key in the unnamed section; nothing when the key is missing.
    std::optional<std::string> FindString(const std::string& key) const;
    // The value read as decimal text without a digit test (a trailing space
    // counts as a digit of value -16), negative results as 0; defaultValue
    // when the key is missing.
    unsigned long GetInteger(const std::string& key, unsigned long defaultValue) const;
    // The value split at runs of ":,= \t"; integers cut to their low 16 bits.
    std::vector<unsigned short> GetIntegerList(const std::string& key) const;
    std::vector<std::string> GetStringList(const std::string& key) const;

    // Rewrites the first line of key, in whatever section, as key=value, or
    // appends one at the end, and writes the whole file back normalised to
    // CR LF line ends. Nothing is written when the value is already there.
    void SetString(const std::string& key, const std::string& value);

  private:
    std::optional<std::string> FindValue(const std::string& section, const std::string& key) const;

    std::string m_fileName;
    T_BinaryData m_contents;
};
