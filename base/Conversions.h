#pragma once

// Stateless helpers that move values between representations: byte order,
// the link CRC, XOR checks, hexadecimal and BCD text, decimal text and Base64.
// Byte data is passed as raw pointers with explicit lengths; text as
// std::string, which may hold any byte value. Nothing here allocates memory
// the caller must free, and nothing throws for bad content.

#include <array>
#include <cstdint>
#include <string>

// The hexadecimal digits, upper case only.
inline constexpr char Digits[] = "0123456789ABCDEF";

// The standard Base64 alphabet, zero-terminated.
inline constexpr char bintoasc[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of every 7-bit character code in the Base64 alphabet,
// 0x80 for every code outside it (the pad character included).
inline constexpr std::array<unsigned char, 128> asctobin = [] {
    std::array<unsigned char, 128> table{};
    table.fill(0x80);
    for (unsigned char i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(bintoasc[i])] = i;
    }
    return table;
}();

// Byte order. Readers assemble byte by byte, so p needs no alignment; writers
// return the pointer they were given.
std::uint16_t LSB_TO_WORD(const unsigned char* p);
unsigned char* WORD_TO_LSB(std::uint16_t w, unsigned char* p);
std::uint32_t LSB_TO_DWORD(const unsigned char* p);
unsigned char* DWORD_TO_LSB(std::uint32_t d, unsigned char* p);
std::uint16_t MSB_TO_WORD(const unsigned char* p);
unsigned char* WORD_TO_MSB(std::uint16_t w, unsigned char* p);
std::uint32_t MSB_TO_DWORD(const unsigned char* p);
unsigned char* DWORD_TO_MSB(std::uint32_t d, unsigned char* p);

// The len low-order bytes of value, most / least significant first. Lengths
// beyond 4 write zero bytes for the positions above the 32-bit value.
unsigned char* IntToMsb(std::uint32_t value, unsigned char* p, int len);
unsigned char* IntToLsb(std::uint32_t value, unsigned char* p, int len);

// CRC-16/CCITT-FALSE: polynomial 0x1021, initial 0xFFFF, no reflection and
// no final XOR. UpdateCrc may be chained by a caller keeping its register.
std::uint16_t UpdateCrc(std::uint16_t crc, unsigned char byte);
std::uint16_t CountCrc(const unsigned char* data, unsigned long len);

// XOR of all bytes (0 for none).
unsigned char CountLRC(const unsigned char* data, unsigned long len);
// 1 when the byte has an even number of one bits, else 0.
int EvenBits(unsigned char byte);
// dst[i] ^= src[i] for i below len.
void XorBuf(const unsigned char* src, unsigned char* dst, unsigned long len);

// Index of the first match, or -1.
long FindBufChar(const unsigned char* buf, unsigned char ch, unsigned long len);
long FindBufStr(const unsigned char* buf, unsigned long bufLen, const unsigned char* pat,
                unsigned long patLen);

// Decimal text. StrToInt folds every character in as (code - '0') without a
// digit test, in signed 32-bit arithmetic, and answers 0 for a negative result.
int StrToInt(const char* text, unsigned long len);
int IntFromStdString(const std::string& s);
// The len least significant decimal digits of value, a 32-bit number (so a
// negative int passed in reads as its 32-bit two's complement), zero-padded on
// the left. _IntToStr writes no terminator; IntToStr writes one at buf[len].
char* _IntToStr(unsigned long value, char* buf, int len);
char* IntToStr(unsigned long value, char* buf, int len);
// The 32-bit value as text. width <= 0: plain decimal; width > 0: exactly
// width digits as IntToStr.
std::string IntToStdString(unsigned long value, int width);
bool ContainsOnlyDigits(const std::string& s);
// s without leading '0' characters, but never shorter than keep characters.
std::string TrimLeadingZeroes(const std::string& s, unsigned long keep);
// Exactly n characters: cut to the first n, or padded with '0' in front.
std::string PadStringWithZeroes(const std::string& s, unsigned long n);
// Exactly n characters: cut to the first n, or padded with ch at the end.
std::string ExtendStdString(const std::string& s, unsigned long n, char ch);
// base ** exponent in wrapping 32-bit arithmetic.
std::uint32_t SimplePower(std::uint32_t base, std::uint32_t exponent);
int Min(int a, int b);
int Max(int a, int b);
int Abs(int a);
void SwapInt(int* a, int* b);

// Hexadecimal and BCD.
// Writes 2 * len upper-case digits, high nibble first; no terminator.
void BytesToHex(const unsigned char* data, char* text, unsigned long len);
std::string TwoHexChars(unsigned char byte);
// Converts pairs of upper-case hex digits from the first len characters of
// text into out (at most len / 2 bytes). Stops at the first character that is
// not a digit, a zero byte included, and never reads beyond len characters.
// Returns the number of characters left unconverted: 0 on full success.
int HexToBytes(const char* text, unsigned char* out, int len);
// count bytes of packed BCD, two decimal digits a byte, most significant first.
unsigned char* IntToBcd(unsigned long value, unsigned char* out, int count);
// Replaces every "\xHH" by the byte it names.
std::string EscapeString(const std::string& s);

// Base64.
char ENC(int v);
// One group of n (1 to 3) bytes as 4 characters with '=' padding.
void encode(char* dst, const unsigned char* src, int n);
// Base64 text of inLen bytes into out (4 * ceil(inLen / 3) characters, no
// line breaks, no terminator); *outLen gets the number written.
void R_EncodePEMBlock(char* out, int* outLen, const unsigned char* in, int inLen);
// The 6-bit value of the character at p, or a value with bit 0x80 set.
unsigned char NextPemChar(const char* p);
// Decodes inLen characters. Every group writes three bytes, so out needs
// 3 * inLen / 4 bytes. Returns 0 with *outLen set, or -1 for a length that is
// not a multiple of 4, a character outside the alphabet or misplaced padding.
int R_DecodePEMBlock(unsigned char* out, int* outLen, const char* in, int inLen);
