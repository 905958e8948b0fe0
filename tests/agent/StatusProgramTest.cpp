// How the agent program shows how it is doing: the real binary, on a
// pseudo-terminal whose other end is a terminal played frame by frame, keeps
// Trace/Status.json up to date while connections open and close, and
// "agent --status" prints such a file for a person.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AgentProgram.h"
#include "RawTerminal.h"
#include "agent/AgentStatus.h"
#include "agent/StatusFile.h"
#include "support/ChildProcess.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

TSerialPacket DataOut(unsigned long socketId, const std::string& text) {
    return TSerialPacket(ACTION_DATA_OUT, socketId, T_BinaryData(text));
}

struct TRun {
    std::optional<int> status;
    std::string output;  // standard output and error together
};

// "agent ARGUMENTS" of the build, in a directory of its own.
TRun RunAgent(const std::vector<std::string>& arguments) {
    TempDir directory;
    std::vector<std::string> argv{ToolPath("agent")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const std::string output = directory / "out";
    TRun run;
    {
        ChildProcess agent(argv, ChildProcess::TOptions{
                                     .directory = directory.Path(), .output = output, .error = output});
        run.status = agent.WaitForExit(10000);
    }
    run.output = directory.ReadFile("out");
    return run;
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

class StatusProgramTest : public testing::Test {
  protected:
    // A serving agent on port 9 whose reset has reached the terminal.
    void Serve() {
        m_directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
        m_directory.WriteFile("agent.ini", "Enabled=1\r\n");
        m_terminal = TRawTerminal::Make(m_directory / "ttyS99");
        ASSERT_TRUE(m_terminal);
        m_agent.Start();
        ASSERT_EQ(m_terminal->NextPacket(20000), "RESET 0") << m_agent.Output();
    }

    // The status in the file once it is as wanted; the terminal meanwhile
    // takes and acknowledges what the agent sends. Nothing if that takes
    // longer than limit; the text seen last is in m_seen.
    std::optional<TAgentStatus> WaitForStatus(const std::function<bool(const TAgentStatus&)>& wanted,
                                              milliseconds limit = seconds(10)) {
        const auto deadline = Clock::now() + limit;
        do {
            std::string error;
            if (TStatusFile::Read(m_directory / "Trace/Status.json", m_seen, error)) {
                const auto status = StatusFromJson(m_seen, error);
                EXPECT_TRUE(status) << error << "\n" << m_seen;  // never a part of a file
                if (status && wanted(*status)) {
                    return status;
                }
            }
            m_terminal->Pump(20);
        } while (Clock::now() < deadline);
        return std::nullopt;
    }

    TempDir m_directory;
    TAgentProgram m_agent{m_directory};
    std::unique_ptr<TRawTerminal> m_terminal;
    std::string m_seen;
};

TEST_F(StatusProgramTest, StatusFileFollowsTheLinkTheConnectionsAndTheCounts) {
    ASSERT_NO_FATAL_FAILURE(Serve());
    auto status = WaitForStatus([](const TAgentStatus& s) {
        return s.state == TServiceStatus::EState::Serving && s.linkUp;
    });
    ASSERT_TRUE(status) << m_seen;
    EXPECT_EQ(status->port, "ttyS99");
    EXPECT_EQ(status->pid, m_agent.Pid());
    EXPECT_FALSE(status->lastReset.empty());
    EXPECT_TRUE(status->connections.empty());

    // A call is shown while it is open, with what it carried each way.
    LoopbackListener server = ListenOnLoopback();
    m_terminal->Send(TSerialPacket(ACTION_CALL, 1, kLoopbackAddress, server.port, 0));
    EXPECT_EQ(m_terminal->NextPacket(), "CALL_RESULT 1 err=0");
    TDescriptor peer = AcceptPeer(server.socket);
    m_terminal->Send(DataOut(1, "hello"));
    EXPECT_EQ(ReceiveExactly(peer, 5), "hello");

    // The terminal refuses the frame that brings the peer's answer once; the
    // agent sends it again. (Data goes out once at a time, so the NAK finds it
    // still unanswered.)
    m_terminal->acknowledge = false;
    ASSERT_TRUE(SendAll(peer, "hi!"));
    EXPECT_EQ(m_terminal->NextPacket(), "DATA_IN 1 len=3");
    m_terminal->acknowledge = true;
    m_terminal->SendNak(m_terminal->lastDataSequence);
    status = WaitForStatus([](const TAgentStatus& s) {
        return s.connections.size() == 1 && s.connections[0].bytesFromPeer == 3 &&
               s.connections[0].bytesToPeer == 5 && s.counters.naksReceived != 0;
    });
    ASSERT_TRUE(status) << m_seen;
    const TConnectionFigures& call = status->connections[0];
    EXPECT_EQ(call.socketId, 1u);
    EXPECT_TRUE(call.calling);
    EXPECT_EQ(call.state, CONNSTATE_CONNECTED);
    EXPECT_EQ(call.address, kLoopbackAddress);
    EXPECT_EQ(call.port, server.port);
    EXPECT_EQ(status->counters.naksReceived, 1u);
    EXPECT_GE(status->counters.repeatsSent, 1u);
    EXPECT_GE(status->counters.framesSent, 4u);
    EXPECT_GE(status->counters.framesReceived, 5u);
    EXPECT_EQ(status->counters.peerResets, 0u);

    // Closed by the terminal, it is gone from the file soon: sooner than the
    // file's period.
    m_terminal->Send(TSerialPacket(ACTION_CLOSE, 1, 0, 0, 0));
    EXPECT_TRUE(WaitForStatus([](const TAgentStatus& s) { return s.connections.empty(); },
                              milliseconds(4000)))
        << m_seen;

    // A person's view of the same file.
    const TRun shown = RunAgent({"--status", "--dir", m_directory.Path()});
    EXPECT_EQ(shown.status, 0) << shown.output;
    EXPECT_EQ(FirstLine(shown.output), "state            serving ttyS99, link up") << shown.output;
    EXPECT_NE(shown.output.find("NAKs             0 sent, 1 received\n"), std::string::npos)
        << shown.output;
    EXPECT_EQ(m_agent.Output(), "");
}

// Something else where the status file goes is told once and left alone;
// the agent serves all the same.
TEST_F(StatusProgramTest, ADirectoryInThePlaceOfTheStatusFileIsToldAndLeftAlone) {
    std::filesystem::create_directories(m_directory / "Trace/Status.json");
    ASSERT_NO_FATAL_FAILURE(Serve());
    const std::string told = "agent: " + (m_directory / "Trace/Status.json") +
                             " is a directory; the status is not written into it\n";
    EXPECT_TRUE(WaitFor([&] { return m_agent.Output() == told; })) << m_agent.Output();
    m_terminal->Send(DataOut(7, "?"));
    EXPECT_EQ(m_terminal->NextPacket(), "CLOSED 7");
    EXPECT_EQ(m_agent.Output(), told);
    EXPECT_TRUE(std::filesystem::is_directory(m_directory / "Trace/Status.json"));
}

TEST(StatusCommandTest, PrintsAGoodFileAndRefusesTheRest) {
    TempDir directory;
    std::filesystem::create_directories(directory / "settings/Trace");
    std::filesystem::create_directories(directory / "logs/Status.json");
    std::filesystem::create_directories(directory / "bad");
    std::filesystem::create_directories(directory / "wrong");
    TAgentStatus status;
    status.state = TServiceStatus::EState::Disabled;
    status.port = "ttyS0";
    status.written = "2026-12-10 10:05:00";
    status.pid = getpid();
    directory.WriteFile("settings/Trace/Status.json", StatusToJson(status));
    directory.WriteFile("bad/Status.json", "{\"format\": 1, \"written\": ");
    directory.WriteFile("wrong/Status.json", "{\"format\": 1}");

    const std::string settings = directory / "settings";
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string firstLine;
    } cases[] = {
        {{"--status", "--dir", settings}, 0,
         "state            idle on ttyS0, link down: disabled in agent.ini"},
        {{"--dir=" + settings, "--trace", directory / "bad", "--status"}, 1,
         "agent: " + (directory / "bad/Status.json") +
             " is not a status the agent writes: not JSON: parse error at line 1, column 26: "
             "syntax error while parsing value - "
             "unexpected end of input; expected '[', '{', or a literal"},
        {{"--status", "--trace", directory / "wrong"}, 1,
         "agent: " + (directory / "wrong/Status.json") +
             " is not a status the agent writes: written is missing"},
        {{"--status", "--trace", directory / "missing"}, 1,
         "agent: cannot read the status in " + (directory / "missing/Status.json") +
             ": No such file or directory"},
        {{"--status", "--trace", directory / "logs"}, 1,
         "agent: cannot read the status in " + (directory / "logs/Status.json") +
             ": a directory"},
        {{"--status", "--dir", directory / "none"}, 2,
         "agent: --dir " + (directory / "none") + ": not a directory"},
    };
    for (const Case& c : cases) {
        const TRun run = RunAgent(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments.back();
        EXPECT_EQ(FirstLine(run.output), c.firstLine) << c.arguments.back();
    }
}

}  // namespace
