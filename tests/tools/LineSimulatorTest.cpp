// The simulated line as its two users see it: what one side writes reaches
// the other in order, and the scripted events do what they say.

#include "line-sim/LineSimulator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

class LineSimulatorTest : public testing::Test {
  protected:
    void Start(double rate) {
        TLineSimOptions options;
        options.agentLink = m_directory / "agent";
        options.terminalLink = m_directory / "terminal";
        options.rate = rate;
        std::string error;
        m_line = TLineSimulator::Create(options, error);
        ASSERT_TRUE(m_line) << error;
        m_agent = Open("agent");
        m_terminal = Open("terminal");
    }

    TDescriptor Open(const std::string& name) {
        TDescriptor fd(open((m_directory / name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        EXPECT_TRUE(fd.IsOpen()) << name;
        return fd;
    }

    // Writes on one side and steps the line until the other side has read
    // `expected` bytes or the limit has passed.
    std::string Carry(const TDescriptor& from, const TDescriptor& to, const std::string& bytes,
                      std::size_t expected,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        EXPECT_EQ(write(from.Get(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
        std::string received;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (received.size() < expected && std::chrono::steady_clock::now() < deadline) {
            m_line->Step(std::chrono::milliseconds(10));
            char buffer[4096];
            const ssize_t count = read(to.Get(), buffer, sizeof buffer);
            if (count > 0) {
                received.append(buffer, static_cast<std::size_t>(count));
            }
        }
        return received;
    }

    TempDir m_directory;
    std::unique_ptr<TLineSimulator> m_line;
    TDescriptor m_agent;
    TDescriptor m_terminal;
};

TEST_F(LineSimulatorTest, CarriesBytesBothWaysInOrder) {
    std::string block;
    for (int i = 0; i < 3000; ++i) {
        block += static_cast<char>(i * 7);
    }
    for (double rate : {0.0, 1000000.0}) {
        Start(rate);
        EXPECT_EQ(Carry(m_terminal, m_agent, block, block.size()), block) << rate;
        EXPECT_EQ(Carry(m_agent, m_terminal, "answer", 6), "answer") << rate;
        EXPECT_EQ(m_line->ToAgent().Counts().delivered, block.size());
        m_line.reset();
    }
}

TEST_F(LineSimulatorTest, CommandsScriptTheLinesTrouble) {
    Start(0);
    std::string error;
    ASSERT_TRUE(m_line->Command("garbage 10 agent", error)) << error;
    EXPECT_EQ(Carry(m_terminal, m_agent, "x", 11).size(), 11u);
    EXPECT_EQ(m_line->ToTerminal().Counts().garbageBytes, 0u);

    ASSERT_TRUE(m_line->Command("silence 60000", error)) << error;
    EXPECT_EQ(Carry(m_terminal, m_agent, "lost", 1, std::chrono::milliseconds(200)), "");
    ASSERT_TRUE(m_line->Command("silence 0", error)) << error;

    // The old device hangs up; a new one answers at the same link.
    ASSERT_TRUE(m_line->Command("replace", error)) << error;
    pollfd old{m_agent.Get(), POLLIN, 0};
    ASSERT_EQ(poll(&old, 1, 1000), 1);
    EXPECT_TRUE(old.revents & (POLLHUP | POLLERR));
    m_agent = Open("agent");
    EXPECT_EQ(Carry(m_terminal, m_agent, "again", 5), "again");

    ASSERT_TRUE(m_line->Command("stats " + (m_directory / "stats.json"), error)) << error;
    EXPECT_NE(m_directory.ReadFile("stats.json").find("\"silenced\":4"), std::string::npos)
        << m_directory.ReadFile("stats.json");

    // Counts are whole numbers in range, and nothing follows what a command takes: a command
    // refused queues nothing.
    for (const char* bad :
         {"garbage", "garbage 5 sideways", "garbage -5", "garbage 18446744073709551611",
          "garbage 65537", "garbage 0", "garbage 5x", "garbage 5 agent extra", "garbage +5",
          "silence -1", "silence 3600001", "silence 1.5", "faults 2 0", "faults 0.1",
          "faults 0.1 nan", "faults 0.1 0.1 0.1", "replace now", "stats", "explode"}) {
        error.clear();
        EXPECT_FALSE(m_line->Command(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_EQ(m_line->ToAgent().Counts().garbageBytes, 10u);
    EXPECT_EQ(m_line->ToTerminal().Counts().garbageBytes, 0u);
    ASSERT_TRUE(m_line->Command("garbage 65536", error)) << error;
    EXPECT_EQ(m_line->ToTerminal().Counts().garbageBytes, 65536u);
}

}  // namespace
