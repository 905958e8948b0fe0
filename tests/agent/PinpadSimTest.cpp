// pinpad-sim as a user runs it: what it relays, its exit statuses and the one
// line it writes on standard error when something is wrong.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "AgentProgram.h"
#include "AnsweringPeer.h"
#include "pinpad-sim/SimOptions.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

struct TRun {
    int status = -1;
    std::string output;
    std::string error;
};

class PinpadSimTest : public testing::Test {
  protected:
    // Runs the simulator with arguments and input; with an agent, one is
    // started on port 9 of m_directory once the simulator has linked its
    // pseudo-terminal there.
    TRun Run(const std::vector<std::string>& arguments, bool withAgent,
             const std::string& input = "") {
        m_directory.WriteFile("input", input);
        std::vector<std::string> argv = {ToolPath("pinpad-sim")};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ChildProcess sim(argv, {.directory = m_directory.Path(),
                                .input = m_directory / "input",
                                .output = m_directory / "output",
                                .error = m_directory / "error"});
        TAgentProgram agent(m_directory);
        if (withAgent) {
            m_directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
            m_directory.WriteFile("agent.ini", "Enabled=1\r\n");
            EXPECT_TRUE(WaitFor([&] { return m_directory.Exists("ttyS99"); }));
            agent.Start();
        }
        TRun run;
        const std::optional<int> status = sim.WaitForExit(30000);
        EXPECT_TRUE(status.has_value()) << "pinpad-sim did not end";
        run.status = status.value_or(-1);
        run.output = m_directory.ReadFile("output");
        run.error = m_directory.ReadFile("error");
        return run;
    }

    std::vector<std::string> OnPty(std::vector<std::string> command) {
        command.insert(command.begin(), {"--pty", m_directory / "ttyS99", "--wait", "10"});
        return command;
    }

    TempDir m_directory;
};

struct TFailure {
    std::vector<std::string> arguments;
    int status;
    std::string reason;  // a piece of the error line
};

void ExpectOneLineSaying(const TRun& run, const TFailure& expected) {
    EXPECT_EQ(run.status, expected.status) << run.error;
    EXPECT_TRUE(run.error.starts_with("pinpad-sim: ")) << run.error;
    EXPECT_EQ(run.error.find('\n'), run.error.size() - 1) << run.error;
    EXPECT_NE(run.error.find(expected.reason), std::string::npos) << run.error;
}

TEST_F(PinpadSimTest, FailuresBeforeAnyAgentAnswers) {
    const TFailure failures[] = {
        {{"--line", "/nonexistent/tty", "connect", "127.0.0.1:80"},
         SIM_EXIT_LINE_UNUSABLE,
         "cannot open /nonexistent/tty"},
        {{"--line", "input", "connect", "127.0.0.1:80"},
         SIM_EXIT_LINE_UNUSABLE,
         "input is not a serial line"},
        {{"--pty", m_directory / "ttyS99", "--wait", "1", "connect", "127.0.0.1:80"},
         SIM_EXIT_NO_LINK,
         "no agent answered"},
    };
    for (const TFailure& failure : failures) {
        ExpectOneLineSaying(Run(failure.arguments, false), failure);
    }
    EXPECT_FALSE(m_directory.Exists("ttyS99")) << "the link outlived the simulator";
}

TEST_F(PinpadSimTest, RelaysARequestAndItsAnswerThroughTheAgent) {
    TAnsweringPeer server(5, "answer from the network");
    TRun run = Run(OnPty({"connect", "127.0.0.1:" + std::to_string(server.Port())}), true, "hello");
    EXPECT_EQ(run.status, SIM_EXIT_OK) << run.error;
    EXPECT_EQ(server.Request(), "hello");
    EXPECT_EQ(run.output, "answer from the network");
    EXPECT_EQ(run.error, "");
}

TEST_F(PinpadSimTest, ConnectionsTheAgentRefusesOrClosesEndWithTheirOwnStatus) {
    LoopbackListener busy = ListenOnLoopback();
    const std::uint16_t closedPort = FreeLoopbackPort();
    const TFailure failures[] = {
        {OnPty({"listen", std::to_string(busy.port)}), SIM_EXIT_REFUSED, "refused"},
        {OnPty({"connect", "127.0.0.1:" + std::to_string(closedPort)}), SIM_EXIT_CLOSED_BY_AGENT,
         "before it was made"},
    };
    for (const TFailure& failure : failures) {
        TRun run = Run(failure.arguments, true);
        ExpectOneLineSaying(run, failure);
        if (failure.status == SIM_EXIT_REFUSED) {
            EXPECT_NE(run.error.find("cannot listen on the port (20008)"), std::string::npos)
                << "no reason with its code";
        }
    }
}

}  // namespace
