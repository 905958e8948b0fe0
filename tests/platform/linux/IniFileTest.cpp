#include "platform/linux/IniFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/TestSystem.h"

namespace {

// Settings files in the test system's home, the default file system's root.
class IniFileTest : public testing::Test {
  protected:
    std::string PathOf(const std::string& name) const { return m_system.Home() + "/" + name; }

    void WriteFile(const std::string& name, const std::string& text) const {
        std::ofstream(PathOf(name), std::ios::binary) << text;
    }

    std::string ReadFile(const std::string& name) const {
        std::ifstream in(PathOf(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // A settings file with that text, read back through a new TIniFile.
    TIniFile Ini(const std::string& text) const {
        WriteFile("test.ini", text);
        return TIniFile("test.ini");
    }

    TTestSystem m_system;
};

TEST_F(IniFileTest, GetIntegerFollowsTheFormatsQuirks) {
    const struct {
        std::string text;
        unsigned long value;
    } cases[] = {
        {"Enabled=1\r\n", 1},
        {"Enabled=1", 1},
        {"Enabled:12\n", 12},
        {"Enabled = 1\r\n", 5},  // a space before the separator
        {"enabled=1\r\n", 5},    // keys are case-sensitive
        {";Enabled=1\r\n", 5},   // there are no comments ...
        {" Enabled=1\r\n", 5},   // ... and no indentation
        {"Enabled=\r\n", 0},
        {"Enabled=,,7\r\n", 7},
        {"Enabled=7 \r\n", 54},  // the trailing space counts as a digit of value -16
        {"Enabled=1 \r\n", 0},
        {"Enabled=abc", 5451},
        {"Enabled=2147483648", 0},
        {"Other=1\nEnabled=2\nEnabled=3", 2},  // the first key wins
        {"[Main]\r\nEnabled=1\r\n", 5},        // only the unnamed section counts
        {"[Main]\r\nX=1\r\n[] all\r\nEnabled=4\r\n", 4},
        {"[Main]\r\nX=1\r\n[]\r\nEnabled=4\r\n", 5},  // too short to be a header
        {std::string("Ena\0bled=8\r\n", 12), 8},      // zero bytes are dropped
        {"", 5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Ini(c.text).GetInteger("Enabled", 5), c.value) << testing::PrintToString(c.text);
    }
}

TEST_F(IniFileTest, MissingFileOrKeyGivesTheDefault) {
    const TIniFile missing("absent.ini");
    EXPECT_EQ(missing.GetInteger("ComPort", 3), 3u);
    EXPECT_EQ(missing.GetString("ComPort", "x"), "x");
    EXPECT_TRUE(missing.GetIntegerList("ComPort").empty());
    EXPECT_TRUE(missing.GetStringList("ComPort").empty());
    // Defaults above the signed 32-bit range come back unchanged.
    EXPECT_EQ(missing.GetInteger("ComPort", 3000000000ul), 3000000000ul);
    EXPECT_EQ(Ini("Other=1\r\n").GetInteger("ComPort", 4294967295ul), 4294967295ul);
}

TEST_F(IniFileTest, SectionsAreSelectedByTheStartOfTheirHeader) {
    const TIniFile ini =
        Ini("Enabled=0\r\n"
            "[Main] old\r\n"
            "Enabled=1\r\n"
            "[Mainframe]\r\n"
            "Port=9\r\n"
            "[ Main ]\r\n"
            "Host=wrong\r\n"
            "[Main]\r\n"
            "Host=right\r\n"
            "Enabled=2\r\n");
    const struct {
        std::string section;
        std::string key;
        std::string value;
    } cases[] = {
        {"Main", "Enabled", "1"},   {"Main", "Host", "right"}, {"Main", "Port", "-"},
        {"Mainframe", "Port", "9"}, {"", "Enabled", "0"},      {"", "Port", "-"},
        {"main", "Enabled", "-"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ini.GetSectionString(c.section, c.key, "-"), c.value)
            << c.section << "/" << c.key;
    }
    EXPECT_EQ(ini.GetString("Enabled", "-"), "0");
}

TEST_F(IniFileTest, LineEndsOfEveryKind) {
    const TIniFile ini = Ini("A=1\n\rB=2\r\nC=3\r\rD=4\n\nE=5");
    EXPECT_EQ(ini.GetString("A", "-") + ini.GetString("B", "-") + ini.GetString("C", "-") +
                  ini.GetString("D", "-") + ini.GetString("E", "-"),
              "12345");
}

TEST_F(IniFileTest, Lists) {
    const TIniFile ini =
        Ini("Ports=1, 2,3\r\n"
            "Wide=70000\r\n"
            "Names=alpha\tbeta:gamma \r\n"
            "Empty=\r\n");
    EXPECT_EQ(ini.GetIntegerList("Ports"), (std::vector<unsigned short>{1, 2, 3}));
    EXPECT_EQ(ini.GetIntegerList("Wide"), std::vector<unsigned short>{4464});  // low 16 bits
    EXPECT_EQ(ini.GetStringList("Names"), (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_TRUE(ini.GetStringList("Empty").empty());
    EXPECT_TRUE(ini.GetIntegerList("Missing").empty());
}

TEST_F(IniFileTest, SetStringRewritesTheFirstKeyLine) {
    const struct {
        std::string before;
        std::string after;
    } cases[] = {
        {"A:2", "A=1\r\n"},
        {"", "A=1\r\n"},
        {"A=2\nA=3", "A=1\r\nA=3\r\n"},
        // The whole file is normalised; a new key lands after the last line.
        {std::string("x\n\r[S]\rB=\0002", 11), "x\r\n[S]\r\nB=2\r\nA=1\r\n"},
        {"[S]\r\nA=5\r\n", "[S]\r\nA=1\r\n"},  // sections play no part
        {"A = 2\r\n", "A = 2\r\nA=1\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.before));
        TIniFile ini = Ini(c.before);
        ini.SetString("A", "1");
        EXPECT_EQ(ReadFile("test.ini"), c.after);
    }
}

TEST_F(IniFileTest, SetStringWithTheSameValueWritesNothing) {
    TIniFile ini = Ini("A=1");
    WriteFile("test.ini", "changed on disk");
    ini.SetString("A", "1");
    EXPECT_EQ(ReadFile("test.ini"), "changed on disk");
    EXPECT_EQ(ini.GetString("A", "-"), "1");
}

TEST_F(IniFileTest, SetStringCreatesAMissingFile) {
    TIniFile ini("new.ini");
    ini.SetString("Enabled", "1");
    EXPECT_EQ(ReadFile("new.ini"), "Enabled=1\r\n");
    EXPECT_EQ(TIniFile("new.ini").GetInteger("Enabled", 0), 1u);
}

TEST_F(IniFileTest, SetStringRefusesLineEndsThatWouldAddEntries) {
    TIniFile ini = Ini("A=1\r\n");
    ini.SetString("A", "2\r\nEnabled=1");
    ini.SetString("B\nEnabled", "1");
    EXPECT_EQ(ReadFile("test.ini"), "A=1\r\n");
    EXPECT_EQ(ini.GetString("A", "-"), "1");
}

TEST_F(IniFileTest, ContentsAreTakenAtConstruction) {
    const TIniFile ini = Ini("Enabled=1\r\n");
    WriteFile("test.ini", "Enabled=0\r\n");
    EXPECT_EQ(ini.GetInteger("Enabled", 5), 1u);
    EXPECT_EQ(TIniFile("test.ini").GetInteger("Enabled", 5), 0u);
}

}  // namespace
