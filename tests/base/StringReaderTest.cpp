#include "base/StringReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every line the reader hands out, until it answers false.
std::vector<std::string> LinesOf(const std::string& text, bool wholeLinesOnly,
                                 unsigned long maxLineLength = T_BinaryData::kToEnd) {
    const T_BinaryData source(text);
    TStringReader reader(source, wholeLinesOnly, maxLineLength);
    std::vector<std::string> lines;
    std::string line;
    while (reader.GetNextString(line)) {
        lines.push_back(line);
    }
    return lines;
}

using Lines = std::vector<std::string>;

TEST(StringReaderTest, LineEnds) {
    const struct {
        std::string text;
        Lines lines;
    } cases[] = {
        {"", {}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\n\rb", {"a", "b"}},  // LF CR is one line end too
        {"a\r\rb", {"a", "", "b"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"a\rb\nc", {"a", "b", "c"}},
        {"\r\n", {""}},
        {"last", {"last"}},
        {std::string("k=\0v\0\r\n", 6), {"k=v"}},  // zero bytes are dropped
        {std::string("\0", 1), {}},                // a line of zero bytes only is no line
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LinesOf(c.text, false), c.lines) << testing::PrintToString(c.text);
    }
}

TEST(StringReaderTest, WholeLinesOnlyHoldsBackAnUnfinishedLine) {
    EXPECT_EQ(LinesOf("GET /\r\nHost", true), Lines{"GET /"});
    EXPECT_EQ(LinesOf("GET /\r\nHost: x\r\n\r\n", true), (Lines{"GET /", "Host: x", ""}));
    EXPECT_EQ(LinesOf("partial", true), Lines{});

    // The bytes of the unfinished piece stay consumed.
    const T_BinaryData source(std::string("GET /\r\nHost"));
    TStringReader reader(source, true, T_BinaryData::kToEnd);
    std::string line;
    EXPECT_TRUE(reader.GetNextString(line));
    EXPECT_FALSE(reader.GetNextString(line));
    EXPECT_EQ(reader.GetRemainingDataSize(), 0u);
}

TEST(StringReaderTest, MaximumLineLengthHandsOutPieces) {
    EXPECT_EQ(LinesOf("abcdefg\r\nhi", false, 3), (Lines{"abc", "def", "g", "hi"}));
    // Unfinished pieces are held back with whole lines only, and the reading
    // stops there.
    EXPECT_EQ(LinesOf("ab\r\ncdefg\r\n", true, 3), Lines{"ab"});
}

TEST(StringReaderTest, RemainingDataFollowsTheLines) {
    const T_BinaryData source(std::string("POST /\r\n\r\nbody-bytes"));
    TStringReader reader(source, true, T_BinaryData::kToEnd);
    std::string line;
    ASSERT_TRUE(reader.GetNextString(line));
    ASSERT_TRUE(reader.GetNextString(line));
    EXPECT_EQ(line, "");
    EXPECT_EQ(reader.GetRemainingDataSize(), 10u);

    EXPECT_EQ(reader.GetRemainingData(4).ToString(), "body");
    EXPECT_EQ(reader.GetRemainingDataSize(), 6u);
    EXPECT_EQ(reader.GetRemainingData(100).ToString(), "-bytes");  // clamped to the end
    EXPECT_EQ(reader.GetRemainingDataSize(), 0u);
    EXPECT_EQ(reader.GetRemainingData(T_BinaryData::kToEnd).Length(), 0u);
    EXPECT_FALSE(reader.GetNextString(line));
}

}  // namespace
