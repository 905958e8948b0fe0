#pragma once

#include <string>

// The characters that separate a key from its value and the items of a list.
inline constexpr char cDelims[] = ":,= \t";

// Interprets one settings line: a section header ("[name]...") or a key line
// ("key=value" or "key:value", the key in the first column and no space
// before the separator), and splits a value into a list of items.
class TStringKeyValueParser {
  public:
    explicit TStringKeyValueParser(const std::string& line);

    // More than two characters, starting with "[" and holding a "]".
    bool IsSectionName() const;
    // The line starts with "[" + name + "]".
    bool IsSectionNameMatched(const std::string& name) const;
    // The line is a key line for key. On success the value starts at the
    // first character after the separator that is not in cDelims.
    bool IsKeyMatched(const std::string& key);

    // From the value's start to the end of the line; "" before a match.
    std::string GetValue() const;
    // Items of the value separated by runs of cDelims characters; "" when the
    // list is exhausted.
    std::string GetFirstValueFromList();
    std::string GetNextValueFromList();

  protected:
    std::string m_line;
    std::string::size_type m_listCursor = std::string::npos;
    std::string::size_type m_valueStart = std::string::npos;
};

// Takes the whole text as a value, to be split as a list.
class TPlainStringParser : public TStringKeyValueParser {
  public:
    explicit TPlainStringParser(const std::string& text);
};
