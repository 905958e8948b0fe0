#include "agent/DestinationFilter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/CommLog.h"
#include "support/TestSystem.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;

class DestinationFilterTest : public testing::Test {
  protected:
    void WriteSettings(const std::string& contents) {
        std::ofstream(m_system.Home() + "/agent.ini", std::ios::binary | std::ios::trunc)
            << contents;
    }

    // The entries of the filter's log so far, without their stamps.
    std::vector<std::string> LogEntries() const {
        const std::string path = m_system.Home() + "/Trace/AllowList.txt";
        if (!std::filesystem::exists(path)) {
            return {};
        }
        std::ifstream file(path, std::ios::binary);
        return CommLogEntries(std::string(std::istreambuf_iterator<char>(file), {}));
    }

    TTestSystem m_system;
};

TEST_F(DestinationFilterTest, WithoutListsEverythingGoesAheadUnlogged) {
    for (const char* settings : {"", "Enabled=1\r\n", "; AllowCall=1.2.3.4\r\nEnabled=1\r\n"}) {
        WriteSettings(settings);
        TDestinationFilter filter;
        filter.Reload();
        EXPECT_EQ(filter.Check(1, kLoopback, 80, true), 0u) << settings;
        EXPECT_EQ(filter.Check(2, kLoopback, 5000, false), 0u) << settings;
    }
    EXPECT_EQ(LogEntries(), std::vector<std::string>{});
}

// A line that names a key in another spelling, case, blank placement or
// section is told on the reporter and in the log; for a list it means that
// nothing is allowed until it is fixed, even beside a correct line.
TEST_F(DestinationFilterTest, MisspeltKeysAreToldAndMisspeltListsAllowNothing) {
    const struct {
        const char* line;
        const char* key;
    } cases[] = {
        {"AllowCall =127.0.0.1", "AllowCall"},
        {"allowcall=127.0.0.1", "AllowCall"},
        {" AllowCall=127.0.0.1", "AllowCall"},
        {"AllowCalls=127.0.0.1", "AllowCall"},
        {"Allow_Call=127.0.0.1", "AllowCall"},
        {"ALLOWCALL: 127.0.0.1", "AllowCall"},
        {"AllowCall 127.0.0.1", "AllowCall"},
        {"[Section]\r\nAllowCall=127.0.0.1", "AllowCall"},
        {"allowlisten=5000", "AllowListen"},
        {"AllowListen\t=5000", "AllowListen"},
        {"[x]\r\nAllowListen=5000", "AllowListen"},
        {"enabled=1", "Enabled"},
        {"Enable=1", "Enabled"},
    };
    for (const auto& c : cases) {
        WriteSettings(std::string("Enabled=1\r\nAllowCall=127.0.0.1\r\n") + c.line + "\r\n");
        std::vector<std::string> told;
        TDestinationFilter filter([&](const std::string& line) { told.push_back(line); });
        filter.Reload();
        filter.Reload();
        ASSERT_EQ(told.size(), 1u) << c.line;
        EXPECT_NE(told[0].find(std::string("is not read as ") + c.key), std::string::npos)
            << told[0];
        EXPECT_EQ(told[0].find('\r'), std::string::npos) << told[0];
        const bool call = std::string(c.key) == "AllowCall";
        const bool listen = std::string(c.key) == "AllowListen";
        EXPECT_EQ(filter.Check(1, kLoopback, 80, true), call ? 20001u : 0u) << c.line;
        EXPECT_EQ(filter.Check(2, kLoopback, 5000, false), listen ? 20008u : 0u) << c.line;
        ASSERT_FALSE(LogEntries().empty()) << c.line;
    }
}

// Unknown keys are told once; comments and the keys spelt right are not.
TEST_F(DestinationFilterTest, UnknownKeysAreToldOnce) {
    WriteSettings(
        "\xEF\xBB\xBF; a comment\r\n# another\r\nEnabled=1\r\nTimeout=5\r\n"
        "AllowListen=5000\r\n");
    std::vector<std::string> told;
    TDestinationFilter filter([&](const std::string& line) { told.push_back(line); });
    filter.Reload();
    filter.Reload();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("unknown key \"Timeout\" is ignored"), std::string::npos) << told[0];
    EXPECT_EQ(filter.Check(2, kLoopback, 5000, false), 0u);
}

TEST_F(DestinationFilterTest, RefusalsAnswerWithTheirErrorAndAreLogged) {
    WriteSettings("Enabled=1\r\nAllowCall=127.0.0.1:80, 10.0.0.0/8\r\nAllowListen=5000\r\n");
    TDestinationFilter filter;
    filter.Reload();
    EXPECT_EQ(filter.Check(1, kLoopback, 80, true), 0u);
    EXPECT_EQ(filter.Check(2, 0x0A010203, 443, true), 0u);
    EXPECT_EQ(filter.Check(3, kLoopback, 81, true), 20001u);
    EXPECT_EQ(filter.Check(4, kLoopback, 5000, false), 0u);
    EXPECT_EQ(filter.Check(0xFFFFFFFF, 0, 5001, false), 20008u);
    EXPECT_EQ(LogEntries(), (std::vector<std::string>{"Refused call #3 to 127.0.0.1:81",
                                                      "Refused listen #4294967295 on port 5001"}));
}

TEST_F(DestinationFilterTest, UnreadableEntriesAreLoggedOncePerChangeOfTheirList) {
    WriteSettings("AllowCall=127.0.0.1:80 10.0.0.300\r\nAllowListen=5000,x\r\n");
    TDestinationFilter filter;
    filter.Reload();
    filter.Reload();
    EXPECT_EQ(LogEntries(), (std::vector<std::string>{"Ignored AllowCall entry \"10.0.0.300\"",
                                                      "Ignored AllowListen entry \"x\""}));

    // Only the changed list is reported again.
    WriteSettings("AllowCall=127.0.0.1:80 10.0.0.300\r\nAllowListen=5000,y\r\n");
    filter.Reload();
    filter.Reload();
    EXPECT_EQ(LogEntries().size(), 3u);
    EXPECT_EQ(LogEntries().back(), "Ignored AllowListen entry \"y\"");
    EXPECT_EQ(filter.Check(1, kLoopback, 80, true), 0u);
    EXPECT_EQ(filter.Check(2, kLoopback, 5000, false), 0u);
}

TEST_F(DestinationFilterTest, EachReloadSeesTheFileAsItIsNow) {
    WriteSettings("AllowCall=127.0.0.1:80\r\n");
    TDestinationFilter filter;
    filter.Reload();
    EXPECT_EQ(filter.Check(1, kLoopback, 81, true), 20001u);

    WriteSettings("AllowCall=127.0.0.1:81\r\n");
    EXPECT_EQ(filter.Check(2, kLoopback, 81, true), 20001u) << "read before Reload";
    filter.Reload();
    EXPECT_EQ(filter.Check(3, kLoopback, 81, true), 0u);
    EXPECT_EQ(filter.Check(4, kLoopback, 80, true), 20001u);

    // A list that is set but empty admits nothing; removing the key admits all.
    WriteSettings("AllowCall=\r\n");
    filter.Reload();
    EXPECT_EQ(filter.Check(5, kLoopback, 81, true), 20001u);
    WriteSettings("Enabled=1\r\n");
    filter.Reload();
    EXPECT_EQ(filter.Check(6, kLoopback, 80, true), 0u);
}

}  // namespace
