#include "CommLogReader.h"

#include <cctype>
#include <cstdio>
#include <string_view>

namespace {

constexpr std::size_t kStampLength = 15;  // "DD.MM HH:MM:SS "
constexpr std::size_t kRowStart = 16;     // a dump row follows the stamp and the direction
constexpr std::size_t kRowBytes = 16;
constexpr std::size_t kHexColumns = 48;                  // "XX " per byte, the last space a '|'
constexpr std::string_view kIndent = "               ";  // 15 spaces before a continuation

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

int TwoDigits(std::string_view text, std::size_t at) {
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

std::optional<TStamp> ParseStamp(std::string_view line) {
    static constexpr std::string_view kPattern = "00.00 00:00:00 ";
    if (line.size() < kStampLength) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kStampLength; ++i) {
        if (kPattern[i] == '0' ? !IsDigit(line[i]) : line[i] != kPattern[i]) {
            return std::nullopt;
        }
    }
    return TStamp{TwoDigits(line, 0), TwoDigits(line, 3), TwoDigits(line, 6), TwoDigits(line, 9),
                  TwoDigits(line, 12)};
}

int HexValue(char c) {
    if (IsDigit(c)) {
        return c - '0';
    }
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// One dump row: the bytes it shows, whether it showed all 16, and what is
// wrong with it if anything.
struct TRow {
    std::size_t count = 0;
    bool full = false;
    std::string fault;
};

TRow ParseRow(std::string_view row, T_BinaryData& out) {
    TRow result;
    for (std::size_t i = 0; i < kRowBytes; ++i) {
        const std::size_t at = 3 * i;
        if (at + 2 > row.size()) {
            result.fault = "the hex dump row is cut short";
            return result;
        }
        if (row[at] == ' ' && row[at + 1] == ' ') {
            break;  // padding after the last byte
        }
        const int high = HexValue(row[at]);
        const int low = HexValue(row[at + 1]);
        if (high < 0 || low < 0) {
            result.fault = "\"" + std::string(row.substr(at, 2)) + "\" is not a hex byte";
            return result;
        }
        out.AddDirectBytes(static_cast<unsigned char>(high * 16 + low), 1);
        ++result.count;
        const char separator = i + 1 == kRowBytes ? '|' : ' ';
        if (at + 2 < row.size() && row[at + 2] != separator) {
            result.fault = "unexpected character after a hex byte";
            return result;
        }
    }
    if (row.size() < kHexColumns) {
        result.fault = "the hex dump row is cut short";
    } else if (row[kHexColumns - 1] != '|') {
        result.fault = "the hex dump row has no '|' before its text column";
    }
    result.full = result.count == kRowBytes;
    return result;
}

// Reads line after line, keeping the entry whose dump is still continuing.
class TReader {
  public:
    explicit TReader(TCommLog& log) : m_log(log) {}

    // False once reading must end.
    bool Line(std::string_view line, std::size_t number) {
        if (line.empty()) {
            return true;
        }
        if (const std::optional<TStamp> stamp = ParseStamp(line)) {
            return Header(*stamp, line.substr(kStampLength), number);
        }
        if (m_log.entries.empty()) {
            ++m_log.skippedLines;
            return true;
        }
        if (line.size() > kIndent.size() && line.substr(0, kIndent.size()) == kIndent) {
            return Continuation(line, number);
        }
        return Stop(number, "not a log entry");
    }

    bool Stop(std::size_t number, const std::string& reason) {
        m_log.stop = TLogStop{number, reason};
        return false;
    }

  private:
    bool Header(const TStamp& stamp, std::string_view marker, std::size_t number) {
        TLogEntry entry;
        entry.stamp = stamp;
        entry.line = number;
        m_direction = '\0';
        m_lastRowFull = true;
        if (marker.starts_with('>') || marker.starts_with('<')) {
            entry.kind = marker[0] == '>' ? TLogEntry::TKind::Sent : TLogEntry::TKind::Received;
            m_direction = marker[0];
            m_log.entries.push_back(entry);
            return Row(marker.substr(1), number);
        }
        if (marker.starts_with("Connected")) {
            entry.kind = TLogEntry::TKind::Connected;
            entry.text = marker.substr(9);
        } else if (marker == "Disconnected") {
            entry.kind = TLogEntry::TKind::Disconnected;
        } else if (marker.starts_with("Error ")) {
            entry.kind = TLogEntry::TKind::Error;
            entry.text = marker.substr(6);
        } else {
            entry.text = marker;
            m_direction = ' ';  // an event with a longer marker dumps below it
        }
        m_log.entries.push_back(entry);
        return true;
    }

    bool Continuation(std::string_view line, std::size_t number) {
        if (m_direction == '\0' || line[kIndent.size()] != m_direction) {
            return Stop(number, "a hex dump row that belongs to no entry");
        }
        if (!m_lastRowFull) {
            return Stop(number, "a hex dump row after a short one");
        }
        return Row(line.substr(kRowStart), number);
    }

    bool Row(std::string_view row, std::size_t number) {
        TLogEntry& entry = m_log.entries.back();
        T_BinaryData ignored;
        const bool dumped =
            entry.kind == TLogEntry::TKind::Sent || entry.kind == TLogEntry::TKind::Received;
        const TRow parsed = ParseRow(row, dumped ? entry.bytes : ignored);
        m_lastRowFull = parsed.full;
        return parsed.fault.empty() ? true : Stop(number, parsed.fault);
    }

    TCommLog& m_log;
    char m_direction = '\0';  // of the entry whose dump may continue; '\0' for none
    bool m_lastRowFull = true;
};

}  // namespace

std::string TStamp::Text() const {
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d %02d:%02d:%02d", day, month, hour, minute, second);
    return text;
}

long TStamp::Key() const {
    return (((month * 31L + day) * 24 + hour) * 60 + minute) * 60 + second;
}

TCommLog ReadCommLog(const std::string& text) {
    TCommLog log;
    TReader reader(log);
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        ++number;
        std::string_view line(text.data() + start,
                              (end == std::string::npos ? text.size() : end) - start);
        start = end == std::string::npos ? text.size() : end + 1;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (!reader.Line(line, number)) {
            break;
        }
        if (end == std::string::npos && !line.empty()) {
            reader.Stop(number, "the file ends in the middle of an entry");
        }
    }
    if (log.entries.empty() && log.skippedLines != 0) {
        log.stop = TLogStop{1, "no log entry in the file"};
    }
    return log;
}
