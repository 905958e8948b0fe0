#pragma once

// Stateless helpers for the text a payment terminal handles: dotted IPv4
// addresses, Cyrillic code pages, letter case and substitution. Text is a
// byte string; byte values are compared unsigned.

#include <array>
#include <string>

// An IPv4 address is a 32-bit number with the first octet of the dotted form
// in its most significant byte; bits above the low 32 are ignored.
std::string IpToString(unsigned long ip);
// Reads four "%d" numbers separated by dots, without range checks; 0 unless
// all four are there.
unsigned long StringToIp(const std::string& text);
// The address when s is four dot-separated decimal numbers of 1 to 3 digits,
// each at most 255 (text after a fourth dot is ignored); otherwise 0, which
// 0.0.0.0 gives as well.
unsigned long IsDottedIPaddress(const std::string& s);

// For each Windows-1251 letter 0xC0 (capital A) to 0xFF (small ya), the
// KOI8-R code of the same letter.
inline constexpr std::array<unsigned char, 64> KOI8 = {
    0xE1, 0xE2, 0xF7, 0xE7, 0xE4, 0xE5, 0xF6, 0xFA, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, 0xF0,
    0xF2, 0xF3, 0xF4, 0xF5, 0xE6, 0xE8, 0xE3, 0xFE, 0xFB, 0xFD, 0xFF, 0xF9, 0xF8, 0xFC, 0xE0, 0xF1,
    0xC1, 0xC2, 0xD7, 0xC7, 0xC4, 0xC5, 0xD6, 0xDA, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD0,
    0xD2, 0xD3, 0xD4, 0xD5, 0xC6, 0xC8, 0xC3, 0xDE, 0xDB, 0xDD, 0xDF, 0xD9, 0xD8, 0xDC, 0xC0, 0xD1,
};

// The Windows-1251 byte of a code point: itself up to 0xFF, the basic
// Cyrillic letters U+0410..U+044F at 0xC0..0xFF, U+0402 and U+0403 at 0x80
// and 0x81, a space for everything else.
unsigned char Get1251CharFromUnicodeChar(unsigned short c);
// UTF-8 to Windows-1251 over the first len bytes, stopping early at a zero
// byte. Only one- and two-byte sequences are known: every byte of 0x80 and
// above leads a two-byte sequence.
std::string convert_utf8_to_windows1251(const char* text, unsigned long len);
std::string convert_utf8_to_windows1251(const std::string& s);

// The three conversions change only the 64 basic Cyrillic letters.
std::string ConvertStringFrom1251ToKoi8(const std::string& s);
std::string ConvertStringFrom1251To866(const std::string& s);
std::string ConvertStringFrom866To1251(const std::string& s);

// Latin letters only.
char UPPER_CASE_(char ch);
std::string UpperCase(const std::string& s);
bool IS_DIGIT_(char ch);

// s with every occurrence of what replaced by with, left to right, resuming
// after the inserted text. An empty pattern matches nothing.
std::string ReplaceString(const std::string& s, const std::string& what, const std::string& with);

// The numeric language code of "RU"/"ru" (643) or "EN"/"en" (840); else 0.
int GetLanguageFromString(const std::string& s);
