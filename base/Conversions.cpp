#include "base/Conversions.h"

#include <algorithm>

namespace {

// Byte-wise lookup table of the MSB-first CRC with polynomial 0x1021: entry i
// is the register after shifting i << 8 through eight steps of the generator.
constexpr std::array<std::uint16_t, 256> crc_ccitt = [] {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t reg = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            reg = static_cast<std::uint16_t>((reg & 0x8000) ? (reg << 1) ^ 0x1021 : reg << 1);
        }
        table[i] = reg;
    }
    return table;
}();
static_assert(crc_ccitt[1] == 0x1021 && crc_ccitt[3] == 0x3063 && crc_ccitt[0xFF] == 0x1EF0);

// Value of an upper-case hexadecimal digit, or -1.
int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Byte number `index` of value counted from the least significant end; zero
// above the four bytes of a 32-bit value.
unsigned char ByteOf(std::uint32_t value, int index) {
    return index < 4 ? static_cast<unsigned char>(value >> (8 * index)) : 0;
}

// The least significant decimal digits of value, right-aligned in len places.
void WriteDecimalDigits(std::uint32_t value, char* buf, int len) {
    for (int i = len - 1; i >= 0; --i) {
        buf[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

}  // namespace

std::uint16_t LSB_TO_WORD(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

unsigned char* WORD_TO_LSB(std::uint16_t w, unsigned char* p) {
    return IntToLsb(w, p, 2);
}

std::uint32_t LSB_TO_DWORD(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

unsigned char* DWORD_TO_LSB(std::uint32_t d, unsigned char* p) {
    return IntToLsb(d, p, 4);
}

std::uint16_t MSB_TO_WORD(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

unsigned char* WORD_TO_MSB(std::uint16_t w, unsigned char* p) {
    return IntToMsb(w, p, 2);
}

std::uint32_t MSB_TO_DWORD(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

unsigned char* DWORD_TO_MSB(std::uint32_t d, unsigned char* p) {
    return IntToMsb(d, p, 4);
}

unsigned char* IntToMsb(std::uint32_t value, unsigned char* p, int len) {
    for (int i = 0; i < len; ++i) {
        p[i] = ByteOf(value, len - 1 - i);
    }
    return p;
}

unsigned char* IntToLsb(std::uint32_t value, unsigned char* p, int len) {
    for (int i = 0; i < len; ++i) {
        p[i] = ByteOf(value, i);
    }
    return p;
}

std::uint16_t UpdateCrc(std::uint16_t crc, unsigned char byte) {
    return static_cast<std::uint16_t>(crc_ccitt[((crc >> 8) ^ byte) & 0xFF] ^ (crc << 8));
}

std::uint16_t CountCrc(const unsigned char* data, unsigned long len) {
    std::uint16_t crc = 0xFFFF;
    for (unsigned long i = 0; i < len; ++i) {
        crc = UpdateCrc(crc, data[i]);
    }
    return crc;
}

unsigned char CountLRC(const unsigned char* data, unsigned long len) {
    unsigned char lrc = 0;
    for (unsigned long i = 0; i < len; ++i) {
        lrc ^= data[i];
    }
    return lrc;
}

int EvenBits(unsigned char byte) {
    int ones = 0;
    for (; byte != 0; byte &= static_cast<unsigned char>(byte - 1)) {
        ++ones;
    }
    return ones % 2 == 0 ? 1 : 0;
}

void XorBuf(const unsigned char* src, unsigned char* dst, unsigned long len) {
    for (unsigned long i = 0; i < len; ++i) {
        dst[i] ^= src[i];
    }
}

long FindBufChar(const unsigned char* buf, unsigned char ch, unsigned long len) {
    const unsigned char* end = buf + len;
    const unsigned char* found = std::find(buf, end, ch);
    return found == end ? -1 : static_cast<long>(found - buf);
}

long FindBufStr(const unsigned char* buf, unsigned long bufLen, const unsigned char* pat,
                unsigned long patLen) {
    if (patLen > bufLen) {
        return -1;
    }
    const unsigned char* end = buf + bufLen;
    const unsigned char* found = std::search(buf, end, pat, pat + patLen);
    return found == end && patLen != 0 ? -1 : static_cast<long>(found - buf);
}

int StrToInt(const char* text, unsigned long len) {
    // Accumulated modulo 2^32 and read back as signed, which is what the
    // fold gives in 32-bit arithmetic without overflow being undefined.
    std::uint32_t value = 0;
    for (unsigned long i = 0; i < len; ++i) {
        const int digit = static_cast<signed char>(text[i]) - '0';
        value = value * 10 + static_cast<std::uint32_t>(digit);
    }
    const auto result = static_cast<std::int32_t>(value);
    return result < 0 ? 0 : result;
}

int IntFromStdString(const std::string& s) {
    return StrToInt(s.data(), s.size());
}

char* _IntToStr(unsigned long value, char* buf, int len) {
    WriteDecimalDigits(static_cast<std::uint32_t>(value), buf, len);
    return buf;
}

char* IntToStr(unsigned long value, char* buf, int len) {
    buf[len] = '\0';
    return _IntToStr(value, buf, len);
}

std::string IntToStdString(unsigned long value, int width) {
    const auto value32 = static_cast<std::uint32_t>(value);
    if (width <= 0) {
        return std::to_string(value32);
    }
    std::string text(static_cast<std::size_t>(width), '0');
    WriteDecimalDigits(value32, text.data(), width);
    return text;
}

bool ContainsOnlyDigits(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string TrimLeadingZeroes(const std::string& s, unsigned long keep) {
    std::size_t removed = 0;
    while (keep + removed < s.size() && s[removed] == '0') {
        ++removed;
    }
    return s.substr(removed);
}

std::string PadStringWithZeroes(const std::string& s, unsigned long n) {
    if (s.size() >= n) {
        return s.substr(0, n);
    }
    return std::string(n - s.size(), '0') + s;
}

std::string ExtendStdString(const std::string& s, unsigned long n, char ch) {
    std::string result = s.substr(0, n);
    result.resize(n, ch);
    return result;
}

std::uint32_t SimplePower(std::uint32_t base, std::uint32_t exponent) {
    std::uint32_t result = 1;
    for (std::uint32_t i = 0; i < exponent; ++i) {
        result *= base;
    }
    return result;
}

int Min(int a, int b) {
    return a < b ? a : b;
}

int Max(int a, int b) {
    return a > b ? a : b;
}

int Abs(int a) {
    // Negated in unsigned arithmetic so that the most negative value wraps to
    // itself instead of overflowing.
    return a < 0 ? static_cast<int>(0u - static_cast<unsigned>(a)) : a;
}

void SwapInt(int* a, int* b) {
    std::swap(*a, *b);
}

void BytesToHex(const unsigned char* data, char* text, unsigned long len) {
    for (unsigned long i = 0; i < len; ++i) {
        text[2 * i] = Digits[data[i] >> 4];
        text[2 * i + 1] = Digits[data[i] & 0x0F];
    }
}

std::string TwoHexChars(unsigned char byte) {
    std::string text(2, '\0');
    BytesToHex(&byte, text.data(), 1);
    return text;
}

int HexToBytes(const char* text, unsigned char* out, int len) {
    // Only whole pairs are converted, so neither text[len] nor out[len / 2] is
    // ever touched; a lone trailing character counts as unconverted.
    int remaining = std::max(len, 0);
    for (; remaining >= 2; remaining -= 2, text += 2, ++out) {
        *out = 0;
        const int high = HexDigitValue(text[0]);
        if (high < 0) {
            break;
        }
        *out = static_cast<unsigned char>(high << 4);
        const int low = HexDigitValue(text[1]);
        if (low < 0) {
            break;
        }
        *out = static_cast<unsigned char>(*out | low);
    }
    return remaining;
}

unsigned char* IntToBcd(unsigned long value, unsigned char* out, int count) {
    for (int i = count - 1; i >= 0; --i) {
        const unsigned low = value % 10;
        value /= 10;
        const unsigned high = value % 10;
        value /= 10;
        out[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return out;
}

std::string EscapeString(const std::string& s) {
    constexpr char marker[] = "\\x";
    std::string result = s;
    for (std::size_t pos = result.find(marker);
         pos != std::string::npos && pos + 4 <= result.size(); pos = result.find(marker, pos + 1)) {
        unsigned char byte = 0;
        HexToBytes(result.data() + pos + 2, &byte, 2);
        result.replace(pos, 4, 1, static_cast<char>(byte));
    }
    return result;
}

char ENC(int v) {
    return bintoasc[v & 0x3F];
}

void encode(char* dst, const unsigned char* src, int n) {
    const unsigned a = src[0];
    const unsigned b = n > 1 ? src[1] : 0;
    const unsigned c = n > 2 ? src[2] : 0;
    dst[0] = ENC(static_cast<int>(a >> 2));
    dst[1] = ENC(static_cast<int>(((a << 4) & 0x30) | (b >> 4)));
    dst[2] = n > 1 ? ENC(static_cast<int>(((b << 2) & 0x3C) | (c >> 6))) : '=';
    dst[3] = n > 2 ? ENC(static_cast<int>(c & 0x3F)) : '=';
}

void R_EncodePEMBlock(char* out, int* outLen, const unsigned char* in, int inLen) {
    if (out == nullptr || outLen == nullptr || in == nullptr) {
        return;
    }
    *outLen = 0;
    for (int done = 0; done < inLen; done += 3) {
        encode(out + *outLen, in + done, std::min(3, inLen - done));
        *outLen += 4;
    }
}

unsigned char NextPemChar(const char* p) {
    const auto code = static_cast<unsigned char>(*p);
    return code < asctobin.size() ? asctobin[code] : 0x80;
}

int R_DecodePEMBlock(unsigned char* out, int* outLen, const char* in, int inLen) {
    if (inLen % 4 != 0) {
        return -1;
    }
    if (inLen <= 0) {
        if (outLen != nullptr) {
            *outLen = 0;
        }
        return 0;
    }
    if (out == nullptr || outLen == nullptr || in == nullptr) {
        return -1;
    }
    int decoded = 0;
    for (int i = 0; i < inLen; i += 4, out += 3) {
        // Padding ends the data: decoding on past it would leave gaps in out
        // that *outLen does not count.
        if (decoded % 3 != 0) {
            return -1;
        }
        const char* group = in + i;
        unsigned char s[4] = {NextPemChar(group), NextPemChar(group + 1), 0, 0};
        int yield = 3;
        if ((s[0] | s[1]) & 0x80) {
            return -1;
        }
        if (group[2] == '=') {
            if (group[3] != '=') {
                return -1;
            }
            yield = 1;
        } else {
            s[2] = NextPemChar(group + 2);
            if (s[2] & 0x80) {
                return -1;
            }
            if (group[3] == '=') {
                yield = 2;
            } else {
                s[3] = NextPemChar(group + 3);
                if (s[3] & 0x80) {
                    return -1;
                }
            }
        }
        out[0] = static_cast<unsigned char>(s[0] << 2 | s[1] >> 4);
        out[1] = static_cast<unsigned char>(s[1] << 4 | s[2] >> 2);
        out[2] = static_cast<unsigned char>(s[2] << 6 | s[3]);
        decoded += yield;
    }
    *outLen = decoded;
    return 0;
}
