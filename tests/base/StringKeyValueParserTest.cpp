#include "base/StringKeyValueParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> ListOf(TStringKeyValueParser& parser) {
    std::vector<std::string> items;
    for (std::string item = parser.GetFirstValueFromList(); !item.empty();
         item = parser.GetNextValueFromList()) {
        items.push_back(item);
    }
    return items;
}

TEST(StringKeyValueParserTest, KeyLines) {
    const struct {
        std::string line;
        bool matched;
        std::string value;
    } cases[] = {
        {"Enabled=1", true, "1"},
        {"Enabled:1", true, "1"},
        {"Enabled=", true, ""},
        {"Enabled=,,7", true, "7"},           // leading separators are skipped
        {"Enabled= \t=:x y ", true, "x y "},  // the rest of the line is the value
        {"Enabled=  ", true, ""},
        {"Enabled", false, ""},
        {"Enabled = 1", false, ""},  // no space before the separator
        {" Enabled=1", false, ""},
        {";Enabled=1", false, ""},
        {"enabled=1", false, ""},  // case matters
        {"EnabledX=1", false, ""},
        {"Enable=1", false, ""},
    };
    for (const auto& c : cases) {
        TStringKeyValueParser parser(c.line);
        EXPECT_EQ(parser.IsKeyMatched("Enabled"), c.matched) << c.line;
        EXPECT_EQ(parser.GetValue(), c.value) << c.line;
    }
}

TEST(StringKeyValueParserTest, SectionHeaders) {
    const struct {
        std::string line;
        bool header;
        bool isMain;
        bool isUnnamed;
    } cases[] = {
        {"[Main]", true, true, false},       {"[Main] old", true, true, false},
        {"[Mainframe]", true, false, false}, {"[ Main ]", true, false, false},
        {"[main]", true, false, false},      {"[]", false, false, true},
        {"[] x", true, false, true},         {"[Main", false, false, false},
        {"x[Main]", false, false, false},    {"[a]", true, false, false},
    };
    for (const auto& c : cases) {
        const TStringKeyValueParser parser(c.line);
        EXPECT_EQ(parser.IsSectionName(), c.header) << c.line;
        EXPECT_EQ(parser.IsSectionNameMatched("Main"), c.isMain) << c.line;
        EXPECT_EQ(parser.IsSectionNameMatched(""), c.isUnnamed) << c.line;
    }
}

TEST(StringKeyValueParserTest, ValueLists) {
    using Items = std::vector<std::string>;
    const struct {
        std::string line;
        Items items;
    } cases[] = {
        {"Ports=1, 2,3", {"1", "2", "3"}},
        {"Ports=a\t=b::c ", {"a", "b", "c"}},
        {"Ports=single", {"single"}},
        {"Ports=", {}},
        {"Ports=,, ", {}},
    };
    for (const auto& c : cases) {
        TStringKeyValueParser parser(c.line);
        ASSERT_TRUE(parser.IsKeyMatched("Ports")) << c.line;
        EXPECT_EQ(ListOf(parser), c.items) << c.line;
        // The list can be walked again from its start.
        EXPECT_EQ(ListOf(parser), c.items) << c.line;
    }

    // Before a key has matched there is no value and no list.
    TStringKeyValueParser unmatched("Ports=1,2");
    EXPECT_EQ(ListOf(unmatched), Items{});
}

TEST(PlainStringParserTest, WholeTextIsTheValue) {
    TPlainStringParser parser("1, 2,3");
    EXPECT_EQ(parser.GetValue(), "1, 2,3");
    EXPECT_EQ(ListOf(parser), (std::vector<std::string>{"1", "2", "3"}));
    TPlainStringParser empty("");
    EXPECT_EQ(ListOf(empty), std::vector<std::string>{});
}

}  // namespace
