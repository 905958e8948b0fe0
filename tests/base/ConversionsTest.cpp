#include "base/Conversions.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes BytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::string Base64Of(const std::string& plain) {
    std::string text(4 * ((plain.size() + 2) / 3), '?');
    int written = -1;
    R_EncodePEMBlock(text.data(), &written, reinterpret_cast<const unsigned char*>(plain.data()),
                     static_cast<int>(plain.size()));
    EXPECT_EQ(written, static_cast<int>(text.size()));
    return text;
}

// The decoded bytes of text, or "<fail>".
std::string PlainOf(const std::string& text) {
    Bytes out(3 * text.size() / 4 + 1, 0xEE);
    int written = -1;
    if (R_DecodePEMBlock(out.data(), &written, text.data(), static_cast<int>(text.size())) != 0) {
        return "<fail>";
    }
    return std::string(out.begin(), out.begin() + written);
}

// ---------------------------------------------------------------- CRC

TEST(CrcTest, PublishedCheckValues) {
    const struct {
        std::string data;
        std::uint16_t crc;
    } cases[] = {
        {"123456789", 0x29B1},
        {"", 0xFFFF},
        {"abc", 0x514A},
        {"A", 0xB915},
    };
    for (const auto& c : cases) {
        const Bytes data = BytesOf(c.data);
        EXPECT_EQ(CountCrc(data.data(), data.size()), c.crc) << c.data;
    }
}

TEST(CrcTest, TableEntriesAreGeneratorMultiples) {
    // From a zero register one update yields the table entry itself.
    EXPECT_EQ(UpdateCrc(0, 0x00), 0x0000);
    EXPECT_EQ(UpdateCrc(0, 0x01), 0x1021);
    EXPECT_EQ(UpdateCrc(0, 0x02), 0x2042);
    EXPECT_EQ(UpdateCrc(0, 0x03), 0x3063);
    EXPECT_EQ(UpdateCrc(0, 0xFF), 0x1EF0);
}

TEST(CrcTest, ChainedUpdatesMatchAndAppendedCrcLeavesZeroRemainder) {
    Bytes frame = BytesOf("\x01\x02hello\xFF\x00tunnel");
    std::uint16_t reg = 0xFFFF;
    for (unsigned char b : frame) {
        reg = UpdateCrc(reg, b);
    }
    const std::uint16_t crc = CountCrc(frame.data(), frame.size());
    EXPECT_EQ(reg, crc);

    // A receiver running the CRC over data and the big-endian CRC gets 0.
    frame.resize(frame.size() + 2);
    WORD_TO_MSB(crc, &frame[frame.size() - 2]);
    EXPECT_EQ(CountCrc(frame.data(), frame.size()), 0);
    // Any single flipped bit is detected.
    frame[3] ^= 0x10;
    EXPECT_NE(CountCrc(frame.data(), frame.size()), 0);
}

// ---------------------------------------------------------------- byte order

TEST(ByteOrderTest, ReadersAtUnalignedOffsets) {
    const unsigned char raw[] = {0xAA, 0x12, 0x34, 0x56, 0x78, 0xFF};
    const unsigned char* p = raw + 1;
    EXPECT_EQ(MSB_TO_WORD(p), 0x1234);
    EXPECT_EQ(LSB_TO_WORD(p), 0x3412);
    EXPECT_EQ(MSB_TO_DWORD(p), 0x12345678u);
    EXPECT_EQ(LSB_TO_DWORD(p), 0x78563412u);
    EXPECT_EQ(MSB_TO_DWORD(raw + 2), 0x345678FFu);
    EXPECT_EQ(LSB_TO_DWORD(raw + 2), 0xFF785634u);
}

TEST(ByteOrderTest, WritersReturnTheirPointerAndTouchOnlyTheirBytes) {
    unsigned char buf[7];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(DWORD_TO_MSB(0x0A000001, buf + 1), buf + 1);
    EXPECT_EQ(Bytes(buf, buf + 7), (Bytes{0xEE, 0x0A, 0x00, 0x00, 0x01, 0xEE, 0xEE}));

    EXPECT_EQ(DWORD_TO_LSB(0x0A000001, buf + 1), buf + 1);
    EXPECT_EQ(Bytes(buf + 1, buf + 5), (Bytes{0x01, 0x00, 0x00, 0x0A}));

    EXPECT_EQ(WORD_TO_MSB(0xBEEF, buf + 5), buf + 5);
    EXPECT_EQ(Bytes(buf + 5, buf + 7), (Bytes{0xBE, 0xEF}));
    EXPECT_EQ(WORD_TO_LSB(0xBEEF, buf + 5), buf + 5);
    EXPECT_EQ(Bytes(buf + 5, buf + 7), (Bytes{0xEF, 0xBE}));
    EXPECT_EQ(buf[0], 0xEE);
}

TEST(ByteOrderTest, IntToMsbAndLsbByLength) {
    const struct {
        int len;
        Bytes msb;
        Bytes lsb;
    } cases[] = {
        {1, {0x78}, {0x78}},
        {2, {0x56, 0x78}, {0x78, 0x56}},
        {3, {0x34, 0x56, 0x78}, {0x78, 0x56, 0x34}},
        {4, {0x12, 0x34, 0x56, 0x78}, {0x78, 0x56, 0x34, 0x12}},
        // Beyond four bytes the positions above the value are zero.
        {6, {0, 0, 0x12, 0x34, 0x56, 0x78}, {0x78, 0x56, 0x34, 0x12, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.len);
        Bytes out(c.len, 0xEE);
        EXPECT_EQ(IntToMsb(0x12345678, out.data(), c.len), out.data());
        EXPECT_EQ(out, c.msb);
        EXPECT_EQ(IntToLsb(0x12345678, out.data(), c.len), out.data());
        EXPECT_EQ(out, c.lsb);
    }
}

// ---------------------------------------------------------------- checks and searching

TEST(ChecksTest, LrcParityAndXor) {
    const Bytes data = {0x01, 0x02, 0x04, 0xF0};
    EXPECT_EQ(CountLRC(data.data(), data.size()), 0xF7);
    EXPECT_EQ(CountLRC(data.data(), 0), 0);

    const struct {
        unsigned char byte;
        int even;
    } parity[] = {{0x00, 1}, {0x01, 0}, {0x03, 1}, {0x80, 0}, {0x7F, 0}, {0xFF, 1}};
    for (const auto& c : parity) {
        EXPECT_EQ(EvenBits(c.byte), c.even) << int(c.byte);
    }

    const Bytes src = {0xFF, 0x0F, 0xAA};
    Bytes dst = {0x0F, 0x0F, 0x55, 0x77};
    XorBuf(src.data(), dst.data(), 3);
    EXPECT_EQ(dst, (Bytes{0xF0, 0x00, 0xFF, 0x77}));
    EXPECT_EQ(src, (Bytes{0xFF, 0x0F, 0xAA}));
}

TEST(SearchTest, FindBufCharAndStr) {
    const Bytes buf = BytesOf(std::string("abcab\0c", 7));
    EXPECT_EQ(FindBufChar(buf.data(), 'b', buf.size()), 1);
    EXPECT_EQ(FindBufChar(buf.data(), '\0', buf.size()), 5);
    EXPECT_EQ(FindBufChar(buf.data(), 'c', 2), -1);  // only the first len bytes count
    EXPECT_EQ(FindBufChar(buf.data(), 'z', buf.size()), -1);

    const struct {
        std::string pat;
        unsigned long bufLen;
        long index;
    } cases[] = {
        {"ab", 7, 0},    {"cab", 7, 2},   {std::string("\0c", 2), 7, 5},
        {"abd", 7, -1},  {"", 7, 0},      {"", 0, 0},
        {"c", 2, -1},    {"bcab", 4, -1}, {"b", 7, 1},
        {"abcab", 5, 0},
    };
    for (const auto& c : cases) {
        const Bytes pat = BytesOf(c.pat);
        EXPECT_EQ(FindBufStr(buf.data(), c.bufLen, pat.data(), pat.size()), c.index)
            << "'" << c.pat << "' in " << c.bufLen;
    }
    // A pattern longer than the buffer fails at once.
    const Bytes longer = BytesOf(std::string("abcab\0cX", 8));
    EXPECT_EQ(FindBufStr(buf.data(), buf.size(), longer.data(), 8), -1);
}

// ---------------------------------------------------------------- decimal text

TEST(DecimalTextTest, StrToIntFoldsEveryCharacterAndClampsNegatives) {
    const struct {
        std::string text;
        int value;
    } cases[] = {
        {"12", 12},
        {"", 0},
        {"007", 7},
        {"-5", 0},
        {"abc", 5451},    // ('a'-'0')*100 + ('b'-'0')*10 + ('c'-'0')
        {"1 ", 0},        // a space is the digit -16
        {"7 ", 54},       //
        {"99\xC8", 886},  // bytes above 0x7F are taken as signed
        {"2147483647", INT_MAX},
        {"2147483648", 0},  // wraps negative in 32 bits
        {"4294967297", 1},  // wraps past 2^32
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IntFromStdString(c.text), c.value) << c.text;
    }
    EXPECT_EQ(StrToInt("1234", 2), 12);
}

TEST(DecimalTextTest, FixedAndFreeWidthText) {
    char buf[5];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(IntToStr(7, buf, 3), buf);
    EXPECT_STREQ(buf, "007");

    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(_IntToStr(98765, buf, 3), buf);
    EXPECT_EQ(std::string(buf, 5), "765xx");  // no terminator written
    EXPECT_STREQ(IntToStr(0x100000007ul, buf, 4), "0007");

    const struct {
        unsigned long value;
        int width;
        std::string text;
    } cases[] = {
        {1234, 2, "34"},
        {1234, 0, "1234"},
        {1234, -1, "1234"},
        {0, 0, "0"},
        {1234, 6, "001234"},
        {4294967295ul, 0, "4294967295"},
        {0, 3, "000"},
        {4294967295ul, 10, "4294967295"},
        // Values are 32-bit: a negative number reads as its two's complement.
        {static_cast<unsigned long>(-1), 0, "4294967295"},
        {0x100000005ul, 0, "5"},
        {static_cast<unsigned long>(-2), 3, "294"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IntToStdString(c.value, c.width), c.text) << c.value << "/" << c.width;
    }
}

TEST(DecimalTextTest, DigitStringsTrimPadAndExtend) {
    EXPECT_TRUE(ContainsOnlyDigits(""));
    EXPECT_TRUE(ContainsOnlyDigits("0123456789"));
    EXPECT_FALSE(ContainsOnlyDigits("12a"));
    EXPECT_FALSE(ContainsOnlyDigits(" 1"));

    const struct {
        std::string s;
        unsigned long keep;
        std::string trimmed;
    } trims[] = {
        {"000", 1, "0"},       {"000", 0, ""}, {"00120", 0, "120"}, {"00120", 4, "0120"},
        {"00120", 9, "00120"}, {"", 0, ""},    {"120", 0, "120"},
    };
    for (const auto& c : trims) {
        EXPECT_EQ(TrimLeadingZeroes(c.s, c.keep), c.trimmed) << c.s << "/" << c.keep;
    }

    EXPECT_EQ(PadStringWithZeroes("42", 5), "00042");
    EXPECT_EQ(PadStringWithZeroes("123456", 3), "123");
    EXPECT_EQ(PadStringWithZeroes("", 2), "00");
    EXPECT_EQ(ExtendStdString("42", 5, ' '), "42   ");
    EXPECT_EQ(ExtendStdString("123456", 3, ' '), "123");
    EXPECT_EQ(ExtendStdString("ab", 2, '*'), "ab");
}

TEST(DecimalTextTest, IntegerHelpers) {
    EXPECT_EQ(SimplePower(2, 10), 1024u);
    EXPECT_EQ(SimplePower(7, 0), 1u);
    EXPECT_EQ(SimplePower(0, 0), 1u);
    EXPECT_EQ(SimplePower(2, 32), 0u);           // wraps in 32 bits
    EXPECT_EQ(SimplePower(3, 21), 1870418611u);  // 3^21 mod 2^32
    EXPECT_EQ(Min(-3, 2), -3);
    EXPECT_EQ(Max(-3, 2), 2);
    EXPECT_EQ(Abs(-5), 5);
    EXPECT_EQ(Abs(5), 5);
    EXPECT_EQ(Abs(INT_MIN), INT_MIN);
    int a = 1, b = 2;
    SwapInt(&a, &b);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 1);
}

// ---------------------------------------------------------------- hexadecimal and BCD

TEST(HexTest, BytesToHexIsUpperCaseWithoutTerminator) {
    const Bytes data = {0x00, 0x4A, 0xFF, 0x3c};
    std::string text(9, '#');
    BytesToHex(data.data(), text.data(), data.size());
    EXPECT_EQ(text, "004AFF3C#");
    EXPECT_EQ(TwoHexChars(0xAB), "AB");
    EXPECT_EQ(TwoHexChars(0x05), "05");
}

TEST(HexTest, HexToBytesStopsAtFirstBadCharacter) {
    const struct {
        std::string text;
        int len;
        Bytes out;  // the output buffer afterwards (starts as 0xEE)
        int unconverted;
    } cases[] = {
        {"4A3F", 4, {0x4A, 0x3F}, 0},
        {"4a", 2, {0x40}, 2},  // lower case is not a digit
        {"g1", 2, {0x00}, 2},  // bad first character keeps 0
        {"0123456789ABCDEF", 16, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, 0},
        {"12X4", 4, {0x12, 0x00}, 2},
        {"4A3F", 2, {0x4A}, 0},                         // only len characters count
        {std::string("4A\0F", 4), 4, {0x4A, 0x00}, 2},  // a zero byte ends the text
        {"", 0, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Bytes out(c.out.size(), 0xEE);
        EXPECT_EQ(HexToBytes(c.text.data(), out.data(), c.len), c.unconverted);
        EXPECT_EQ(out, c.out);
    }
}

TEST(HexTest, HexToBytesStaysInsideTextAndOutput) {
    // Heap blocks of exactly the stated sizes, so that the sanitizer build
    // reports any access beyond them: an odd length leaves its last
    // character unconverted and writes only len / 2 bytes.
    const std::string text = "ABC";
    std::vector<char> exact(text.begin(), text.end());
    Bytes out(1, 0xEE);
    EXPECT_EQ(HexToBytes(exact.data(), out.data(), 3), 1);
    EXPECT_EQ(out, Bytes{0xAB});
    EXPECT_EQ(HexToBytes(exact.data(), out.data(), -1), 0);
}

TEST(BcdTest, IntToBcdKeepsLowDigits) {
    const struct {
        unsigned long value;
        int count;
        Bytes bcd;
    } cases[] = {
        {1234, 3, {0x00, 0x12, 0x34}},  {1234, 1, {0x34}},
        {0, 2, {0x00, 0x00}},           {4294967295ul, 6, {0x00, 0x42, 0x94, 0x96, 0x72, 0x95}},
        {98765, 3, {0x09, 0x87, 0x65}},
    };
    for (const auto& c : cases) {
        Bytes out(c.bcd.size(), 0xEE);
        EXPECT_EQ(IntToBcd(c.value, out.data(), c.count), out.data());
        EXPECT_EQ(out, c.bcd) << c.value;
    }
}

TEST(EscapeTest, HexEscapesBecomeBytes) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain", "plain"},
        {"a\\x41b", "aAb"},
        {"\\x0D\\x0A", "\r\n"},
        {"\\x00", std::string(1, '\0')},
        {"\\xg1", std::string(1, '\0')},  // bad first digit gives 0
        {"\\x4g", "@"},                   // bad second digit keeps the high nibble
        {"\\x4", "\\x4"},                 // too short near the end
        {"\\x5C\\x5C", "\\\\"},           // produced backslashes are not re-read as escapes
        {"\\x5Cx41", "\\x41"},
        {"\\\\x41", "\\A"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeString(c.in), c.out) << c.in;
    }
}

// ---------------------------------------------------------------- Base64

TEST(Base64Test, Rfc4648Vectors) {
    const struct {
        std::string plain;
        std::string text;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"abc", "YWJj"},
        {"\xFB\xFF", "+/8="},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Base64Of(c.plain), c.text) << c.plain;
        EXPECT_EQ(PlainOf(c.text), c.plain) << c.text;
    }
}

TEST(Base64Test, EveryByteValueRoundTrips) {
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    EXPECT_EQ(PlainOf(Base64Of(all)), all);
}

TEST(Base64Test, DecodeRejectsMalformedText) {
    const char* bad[] = {
        "YQ=",       // length not a multiple of 4
        "YQ==Y",     //
        "YQ=A",      // third '=' needs a fourth
        "Y===",      // padding in the second place
        "=AAA",      //
        "#AAA",      // outside the alphabet
        "AA\x80=",   // high bytes are not characters of the alphabet
        "YQ==YQ==",  // padding before the end
        "YWI=YWJj",  //
    };
    for (const char* text : bad) {
        EXPECT_EQ(PlainOf(text), "<fail>") << text;
    }
}

TEST(Base64Test, DecodeOutputAndLengthContract) {
    // A padded group still writes three bytes; *outLen counts the yield.
    unsigned char out[3] = {0xEE, 0xEE, 0xEE};
    int written = -1;
    EXPECT_EQ(R_DecodePEMBlock(out, &written, "YQ==", 4), 0);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(out[0], 'a');

    // Failure leaves *outLen unwritten; empty input decodes to nothing.
    written = 42;
    EXPECT_EQ(R_DecodePEMBlock(out, &written, "YQ=A", 4), -1);
    EXPECT_EQ(written, 42);
    EXPECT_EQ(R_DecodePEMBlock(nullptr, &written, "", 0), 0);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(R_DecodePEMBlock(out, nullptr, "YWJj", 4), -1);
}

TEST(Base64Test, EncodeArgumentContract) {
    const unsigned char in[] = {'a'};
    char out[4];
    int written = 42;
    R_EncodePEMBlock(nullptr, &written, in, 1);
    R_EncodePEMBlock(out, &written, nullptr, 1);
    EXPECT_EQ(written, 42);  // null arguments leave the count alone
    R_EncodePEMBlock(out, &written, in, 0);
    EXPECT_EQ(written, 0);
    R_EncodePEMBlock(out, &written, in, -3);
    EXPECT_EQ(written, 0);

    EXPECT_EQ(ENC(0), 'A');
    EXPECT_EQ(ENC(63 + 64), '/');  // only the low 6 bits count
    EXPECT_EQ(NextPemChar("+"), 62);
    EXPECT_EQ(NextPemChar("=") & 0x80, 0x80);
    EXPECT_EQ(NextPemChar("\xC3") & 0x80, 0x80);
}

}  // namespace
