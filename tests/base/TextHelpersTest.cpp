#include "base/TextHelpers.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/ChildProcess.h"
#include "support/HexBytes.h"

namespace {

// ---------------------------------------------------------------- addresses

TEST(IpAddressTextTest, IpToStringWritesOctetsMostSignificantFirst) {
    EXPECT_EQ(IpToString(0x0A000001), "10.0.0.1");
    EXPECT_EQ(IpToString(0xC0A8010A), "192.168.1.10");
    EXPECT_EQ(IpToString(0xFFFFFFFF), "255.255.255.255");
    EXPECT_EQ(IpToString(0), "0.0.0.0");
    // Only the low 32 bits are an address.
    EXPECT_EQ(IpToString(0x17F000001UL), "127.0.0.1");
}

TEST(IpAddressTextTest, StringToIpReadsFourNumbers) {
    const struct {
        std::string text;
        unsigned long ip;
    } cases[] = {
        {"10.0.0.1", 0x0A000001},
        {"192.168.1.10", 0xC0A8010A},
        {"1.2.3.4 trailing text", 0x01020304},
        {" 1.2.3.4", 0x01020304},   // a number may start with blanks, as for "%d"
        {"1.2.0.999", 0x010203E7},  // no range checks: 999 spills into the third octet
        {"1.2.3.-1", 0xFFFFFFFF},
        {"1.2.3", 0},
        {"1.2.3.", 0},
        {"1.2..4", 0},
        {"1,2,3,4", 0},
        {"", 0},
        {"a.b.c.d", 0},
        {"99999999999999999999999.1.1.1", 0xFF010101},  // clamped, not undefined
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StringToIp(c.text), c.ip) << c.text;
    }
}

TEST(IpAddressTextTest, IsDottedIPaddressAcceptsOnlyFourSmallNumbers) {
    const struct {
        std::string text;
        unsigned long ip;
    } cases[] = {
        {"192.168.1.10", 0xC0A8010A},
        {"255.255.255.255", 0xFFFFFFFF},
        {"010.000.000.001", 0x0A000001},
        {"1.2.3.4.5", 0x01020304},  // text after a fourth dot is ignored
        {"1.2.3.4.", 0x01020304},
        {"0.0.0.0", 0},
        {"1.2.3", 0},
        {"1.2.3.256", 0},
        {"1..3.4", 0},
        {".1.2.3", 0},
        {"1.2.3.", 0},
        {"1.2.3.0004", 0},
        {"", 0},
        // Letters, blanks and signs are not digits, whatever their arithmetic.
        {"a.b.c.d", 0},
        {"1.2.3.4a", 0},
        {"1.2.3.1a", 0},
        {" 1.2.3.4", 0},
        {"1.2.+3.4", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsDottedIPaddress(c.text), c.ip) << c.text;
    }
}

TEST(IpAddressTextTest, DottedTextRoundTrips) {
    for (const unsigned long ip : {0x01020304UL, 0x7F000001UL, 0xFFFFFFFEUL, 0x00FF00FFUL}) {
        EXPECT_EQ(StringToIp(IpToString(ip)), ip);
        EXPECT_EQ(IsDottedIPaddress(IpToString(ip)), ip);
    }
}

// ---------------------------------------------------------------- code pages

std::string Byte(unsigned int b) {
    return std::string(1, static_cast<char>(b));
}

TEST(CodePageTest, Utf8ToWindows1251) {
    const struct {
        std::string utf8;
        std::string cp1251;
    } cases[] = {
        {"plain ASCII", "plain ASCII"},
        {"\xD0\x90", Byte(0xC0)},                       // capital A
        {"\xD1\x8F", Byte(0xFF)},                       // small ya
        {"\xD0\x81", " "},                              // capital io: not a basic letter
        {"\xD1\x91", " "},                              // small io
        {"\xD0\x82\xD0\x83", Byte(0x80) + Byte(0x81)},  // U+0402, U+0403
        {"\xC3\xA9", Byte(0xE9)},                       // U+00E9 keeps its own value
        {"\xD4\x80", " "},                              // U+0500
        {"a\xD0", "a "},                                // a lead in the last position: U+0400
        {"ab" + Byte(0) + "cd", "ab"},                  // a zero byte ends the text
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(convert_utf8_to_windows1251(c.utf8), c.cp1251) << c.utf8;
    }
}

TEST(CodePageTest, Utf8ConversionStopsAtLength) {
    // The lead at the length limit must not pull in the byte after it.
    const char text[] = "x\xD0\x90";
    EXPECT_EQ(convert_utf8_to_windows1251(text, 2), "x ");
    EXPECT_EQ(convert_utf8_to_windows1251(text, 0), "");
}

TEST(CodePageTest, Get1251CharFromUnicodeChar) {
    EXPECT_EQ(Get1251CharFromUnicodeChar(0x41), 0x41);
    EXPECT_EQ(Get1251CharFromUnicodeChar(0xFF), 0xFF);
    EXPECT_EQ(Get1251CharFromUnicodeChar(0x410), 0xC0);
    EXPECT_EQ(Get1251CharFromUnicodeChar(0x44F), 0xFF);
    EXPECT_EQ(Get1251CharFromUnicodeChar(0x40F), ' ');
    EXPECT_EQ(Get1251CharFromUnicodeChar(0x450), ' ');
    EXPECT_EQ(Get1251CharFromUnicodeChar(0x402), 0x80);
    EXPECT_EQ(Get1251CharFromUnicodeChar(0x403), 0x81);
    EXPECT_EQ(Get1251CharFromUnicodeChar(0xFFFF), ' ');
}

TEST(CodePageTest, KnownLetters) {
    EXPECT_EQ(KOI8[0xC0 - 0xC0], 0xE1);
    EXPECT_EQ(KOI8[0xDF - 0xC0], 0xF1);
    EXPECT_EQ(KOI8[0xE0 - 0xC0], 0xC1);
    EXPECT_EQ(KOI8[0xFF - 0xC0], 0xD1);
    EXPECT_EQ(ConvertStringFrom866To1251(Byte(0x80)), Byte(0xC0));
    EXPECT_EQ(ConvertStringFrom866To1251(Byte(0xF0)), Byte(0xF0));
}

TEST(CodePageTest, OnlyBasicCyrillicLettersChange) {
    // Every byte outside the 64 letters passes unchanged, the io letters and
    // the 866 box-drawing characters included.
    for (unsigned int b = 0; b < 0x100; ++b) {
        if (b < 0xC0) {
            EXPECT_EQ(ConvertStringFrom1251ToKoi8(Byte(b)), Byte(b)) << b;
            EXPECT_EQ(ConvertStringFrom1251To866(Byte(b)), Byte(b)) << b;
        }
        if (b < 0x80 || (b >= 0xB0 && b < 0xE0) || b >= 0xF0) {
            EXPECT_EQ(ConvertStringFrom866To1251(Byte(b)), Byte(b)) << b;
        }
    }
}

// One line per Windows-1251 letter 0xC0..0xFF from Python's own codecs: the
// KOI8-R byte, the 866 byte and the UTF-8 bytes, in hex.
constexpr const char* kReferenceScript = R"(
for b in range(0xC0, 0x100):
    letter = bytes([b]).decode('cp1251')
    print(letter.encode('koi8_r').hex(), letter.encode('cp866').hex(), letter.encode('utf-8').hex())
)";

std::string FromHex(const std::string& hex) {
    return HexBytes(hex).ToString();
}

TEST(CodePageTest, EveryLetterMatchesPythonCodecs) {
    ChildProcess python({"python3", "-c", kReferenceScript});
    for (unsigned int b = 0xC0; b < 0x100; ++b) {
        std::istringstream line(python.ReadLine());
        std::string koi8, cp866, utf8;
        line >> koi8 >> cp866 >> utf8;
        ASSERT_FALSE(utf8.empty()) << "no reference line for " << b;
        const std::string letter = Byte(b);
        EXPECT_EQ(ConvertStringFrom1251ToKoi8(letter), FromHex(koi8)) << b;
        EXPECT_EQ(ConvertStringFrom1251To866(letter), FromHex(cp866)) << b;
        EXPECT_EQ(ConvertStringFrom866To1251(FromHex(cp866)), letter) << b;
        EXPECT_EQ(convert_utf8_to_windows1251(FromHex(utf8)), letter) << b;
    }
    EXPECT_EQ(python.WaitForExit(10000), 0);
}

TEST(CodePageTest, ConversionsKeepOtherBytesOfAText) {
    const std::string text = "Ok: " + Byte(0xCF) + Byte(0xF0) + Byte(0xA8) + "!";
    EXPECT_EQ(ConvertStringFrom1251ToKoi8(text),
              "Ok: " + Byte(0xF0) + Byte(0xD2) + Byte(0xA8) + "!");
    EXPECT_EQ(ConvertStringFrom1251To866(text),
              "Ok: " + Byte(0x8F) + Byte(0xE0) + Byte(0xA8) + "!");
}

// ---------------------------------------------------------------- case, substitution

TEST(TextCaseTest, UpperCaseChangesLatinLettersOnly) {
    EXPECT_EQ(UpperCase("abc xyz-09 ABC"), "ABC XYZ-09 ABC");
    EXPECT_EQ(UpperCase(Byte(0xE0) + "`{"), Byte(0xE0) + "`{");
    EXPECT_EQ(UPPER_CASE_('q'), 'Q');
    EXPECT_EQ(UPPER_CASE_('@'), '@');
    EXPECT_EQ(UPPER_CASE_(static_cast<char>(0xE1)), static_cast<char>(0xE1));
}

TEST(TextCaseTest, IsDigit) {
    EXPECT_TRUE(IS_DIGIT_('0'));
    EXPECT_TRUE(IS_DIGIT_('9'));
    EXPECT_FALSE(IS_DIGIT_('/'));
    EXPECT_FALSE(IS_DIGIT_(':'));
    EXPECT_FALSE(IS_DIGIT_(static_cast<char>(0xB0)));
}

TEST(ReplaceStringTest, Cases) {
    const struct {
        std::string s, what, with, result;
    } cases[] = {
        {"a-b-c", "-", "+", "a+b+c"}, {"aaa", "a", "aa", "aaaaaa"},  // resumes after the inserted
                                                                     // text
        {"aaaa", "aa", "a", "aa"},    {"abcabc", "abc", "", ""},    {"hello", "xyz", "!", "hello"},
        {"", "a", "b", ""},           {"abc", "", "x", "abc"},  // an empty pattern matches nothing
        {"abc", "", "", "abc"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReplaceString(c.s, c.what, c.with), c.result)
            << c.s << " / " << c.what << " / " << c.with;
    }
}

TEST(LanguageTest, WholeStringCodes) {
    const struct {
        std::string text;
        int code;
    } cases[] = {
        {"RU", 643}, {"ru", 643}, {"EN", 840}, {"en", 840}, {"Ru", 0},
        {"eN", 0},   {"RUS", 0},  {"", 0},     {"de", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetLanguageFromString(c.text), c.code) << c.text;
    }
}

}  // namespace
