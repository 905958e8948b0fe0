#include "agent/SettingsKeys.h"

#include <algorithm>
#include <set>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t";
// Spellings this close to a key (inserted, left out or changed characters) mean it.
constexpr std::size_t kMostEdits = 2;

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Lower case, without the blanks, "_" and "-" people put between words.
std::string Folded(std::string_view name) {
    std::string folded;
    for (const char c : name) {
        if (c != ' ' && c != '\t' && c != '_' && c != '-') {
            folded += Lower(c);
        }
    }
    return folded;
}

// The edit distance of a and b, or kMostEdits + 1 when it is larger.
std::size_t Edits(const std::string& a, const std::string& b) {
    if (std::max(a.size(), b.size()) - std::min(a.size(), b.size()) > kMostEdits) {
        return kMostEdits + 1;
    }
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return std::min(row[b.size()], kMostEdits + 1);
}

}  // namespace

bool TSettingsKeyCheck::Misspells(std::string_view key) const {
    return std::any_of(misspelt.begin(), misspelt.end(),
                       [&](const TKeyMisspelling& m) { return m.key == key; });
}

std::string_view WithoutByteOrderMark(std::string_view text) {
    return text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size()) : text;
}

TSettingsKeyCheck CheckSettingsKeys(std::string_view text, const std::vector<std::string>& keys) {
    TSettingsKeyCheck check;
    std::set<std::string> unknownSeen;
    bool inSection = false;
    unsigned number = 0;
    text = WithoutByteOrderMark(text);
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
        const std::string_view line = text.substr(0, end);
        // CR LF and LF CR end one line; a second CR or LF makes an empty one.
        std::size_t next = end;
        if (next < text.size()) {
            ++next;
            if (next < text.size() && (text[next] == '\r' || text[next] == '\n') &&
                text[next] != text[end]) {
                ++next;
            }
        }
        text.remove_prefix(next);
        ++number;

        const std::string_view content = Trimmed(line);
        if (content.empty() || content.front() == ';' || content.front() == '#') {
            continue;
        }
        if (content.front() == '[') {
            inSection = true;
            continue;
        }
        const std::size_t separator = line.find_first_of("=:");
        // Without "=" or ":" the first word may still name a key ("AllowCall 10.0.0.5").
        const std::string_view name = separator == std::string_view::npos
                                          ? content.substr(0, content.find_first_of(kBlanks))
                                          : line.substr(0, separator);
        const std::string folded = Folded(name);
        const auto meant = std::find_if(keys.begin(), keys.end(), [&](const std::string& key) {
            return Edits(folded, Folded(key)) <= kMostEdits;
        });
        if (meant != keys.end()) {
            if (inSection || name != *meant || separator == std::string_view::npos) {
                check.misspelt.push_back({*meant, std::string(content), number});
            } else {
                ++check.lines[*meant];
            }
        } else if (separator != std::string_view::npos && !Trimmed(name).empty() &&
                   unknownSeen.insert(std::string(Trimmed(name))).second) {
            check.unknown.emplace_back(Trimmed(name));
        }
    }
    return check;
}
