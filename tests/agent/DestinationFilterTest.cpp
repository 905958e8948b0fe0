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
    for (const char* settings :
         {"", "Enabled=1\r\n", "Enabled=1\r\n[Other]\r\nAllowCall=1.2.3.4\r\n"}) {
        WriteSettings(settings);
        TDestinationFilter filter;
        filter.Reload();
        EXPECT_EQ(filter.Check(1, kLoopback, 80, true), 0u) << settings;
        EXPECT_EQ(filter.Check(2, kLoopback, 5000, false), 0u) << settings;
    }
    EXPECT_EQ(LogEntries(), std::vector<std::string>{});
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
