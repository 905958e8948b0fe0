#pragma once

#include <algorithm>
#include <cctype>
#include <string>

// Text helpers for HTTP header lines, shared by the reading of requests and
// of responses: header names compare without regard to letter case, and the
// blanks around a value are no part of it.

inline constexpr char kHeaderBlanks[] = " \t";

inline char HeaderLowerCase(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

inline bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return HeaderLowerCase(x) == HeaderLowerCase(y);
           });
}

// text without the spaces and tabs at either end.
inline std::string TrimBlanks(const std::string& text) {
    const std::size_t first = text.find_first_not_of(kHeaderBlanks);
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(kHeaderBlanks) + 1 - first);
}
