#include "base/TextHelpers.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "base/Conversions.h"

namespace {

constexpr unsigned long kOctetCount = 4;
constexpr unsigned long kMaxOctetDigits = 3;
constexpr int kMaxOctet = 255;

// s with each byte replaced by convert(byte).
template <typename Convert>
std::string MapBytes(const std::string& s, Convert convert) {
    std::string out(s);
    for (char& ch : out) {
        ch = static_cast<char>(convert(static_cast<unsigned char>(ch)));
    }
    return out;
}

bool InRange(unsigned char byte, unsigned char first, unsigned char last) {
    return byte >= first && byte <= last;
}

}  // namespace

std::string IpToString(unsigned long ip) {
    const auto ip32 = static_cast<std::uint32_t>(ip);
    char text[sizeof "255.255.255.255"];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(ip32 >> 24),
                  static_cast<unsigned long>((ip32 >> 16) & 0xFF),
                  static_cast<unsigned long>((ip32 >> 8) & 0xFF),
                  static_cast<unsigned long>(ip32 & 0xFF));
    return text;
}

unsigned long StringToIp(const std::string& text) {
    // Each number is read as scanf's "%d" reads it (strtol in base 10: leading
    // blanks and a sign allowed), but an out-of-range number is not undefined.
    const char* position = text.c_str();
    std::uint32_t ip = 0;
    for (unsigned long field = 0; field < kOctetCount; ++field) {
        if (field > 0) {
            if (*position != '.') {
                return 0;
            }
            ++position;
        }
        char* end = nullptr;
        const long value = std::strtol(position, &end, 10);
        if (end == position) {
            return 0;
        }
        ip = (ip << 8) | static_cast<std::uint32_t>(value);
        position = end;
    }
    return ip;
}

unsigned long IsDottedIPaddress(const std::string& s) {
    std::uint32_t address = 0;
    std::string::size_type start = 0;
    for (unsigned long field = 0; field < kOctetCount; ++field) {
        std::string::size_type dot = s.find('.', start);
        if (dot == std::string::npos) {
            if (field + 1 < kOctetCount) {
                return 0;
            }
            dot = s.size();
        }
        const std::string octet = s.substr(start, dot - start);
        if (octet.empty() || octet.size() > kMaxOctetDigits || !ContainsOnlyDigits(octet)) {
            return 0;
        }
        const int value = IntFromStdString(octet);
        if (value > kMaxOctet) {
            return 0;
        }
        address = (address << 8) | static_cast<std::uint32_t>(value);
        start = dot + 1;
    }
    return address;
}

unsigned char Get1251CharFromUnicodeChar(unsigned short c) {
    if (c <= 0xFF) {
        return static_cast<unsigned char>(c);
    }
    if (c >= 0x410 && c <= 0x44F) {
        return static_cast<unsigned char>(c - 0x350);
    }
    if (c == 0x402) {
        return 0x80;
    }
    if (c == 0x403) {
        return 0x81;
    }
    return ' ';
}

std::string convert_utf8_to_windows1251(const char* text, unsigned long len) {
    std::string out;
    unsigned long i = 0;
    while (i < len && text[i] != '\0') {
        const auto lead = static_cast<unsigned char>(text[i++]);
        unsigned short codePoint = lead;
        if (lead >= 0x80) {
            // A lead in the last position has nothing to combine with.
            const auto next = i < len ? static_cast<unsigned char>(text[i++]) : 0;
            codePoint = static_cast<unsigned short>(((lead & 0x1F) << 6) + (next & 0x3F));
        }
        out += static_cast<char>(Get1251CharFromUnicodeChar(codePoint));
    }
    return out;
}

std::string convert_utf8_to_windows1251(const std::string& s) {
    return convert_utf8_to_windows1251(s.data(), s.size());
}

std::string ConvertStringFrom1251ToKoi8(const std::string& s) {
    return MapBytes(s, [](unsigned char byte) { return byte >= 0xC0 ? KOI8[byte - 0xC0] : byte; });
}

std::string ConvertStringFrom1251To866(const std::string& s) {
    return MapBytes(s, [](unsigned char byte) -> unsigned char {
        if (InRange(byte, 0xC0, 0xEF)) {
            return byte - 0x40;
        }
        return byte >= 0xF0 ? byte - 0x10 : byte;
    });
}

std::string ConvertStringFrom866To1251(const std::string& s) {
    return MapBytes(s, [](unsigned char byte) -> unsigned char {
        if (InRange(byte, 0x80, 0xAF)) {
            return byte + 0x40;
        }
        return InRange(byte, 0xE0, 0xEF) ? byte + 0x10 : byte;
    });
}

char UPPER_CASE_(char ch) {
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 0x20) : ch;
}

std::string UpperCase(const std::string& s) {
    return MapBytes(s, [](unsigned char byte) {
        return static_cast<unsigned char>(UPPER_CASE_(static_cast<char>(byte)));
    });
}

bool IS_DIGIT_(char ch) {
    return ch >= '0' && ch <= '9';
}

std::string ReplaceString(const std::string& s, const std::string& what, const std::string& with) {
    if (what.empty()) {
        return s;
    }
    std::string out(s);
    for (auto position = out.find(what); position != std::string::npos;
         position = out.find(what, position + with.size())) {
        out.replace(position, what.size(), with);
    }
    return out;
}

int GetLanguageFromString(const std::string& s) {
    if (s == "RU" || s == "ru") {
        return 643;
    }
    if (s == "EN" || s == "en") {
        return 840;
    }
    return 0;
}
