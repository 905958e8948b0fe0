// The agent program as shipped: the real binary, copied with its settings
// into a directory of its own, on a pseudo-terminal whose other end is the
// terminal's half of our tunnel.

#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "AgentProgram.h"
#include "AnsweringPeer.h"
#include "common/SimLine.h"
#include "platform/NetworkInterface.h"
#include "support/CommLog.h"
#include "support/Loopback.h"
#include "support/TempDir.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

std::size_t Count(const std::string& text, const std::string& piece) {
    std::size_t count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos;
         at = text.find(piece, at + piece.size())) {
        ++count;
    }
    return count;
}

class AgentProgramTest : public testing::Test {
  protected:
    void WriteSettings(const std::string& pinpad, const std::string& agent) {
        if (!pinpad.empty()) {
            m_directory.WriteFile("pinpad.ini", pinpad);
        }
        if (!agent.empty()) {
            m_directory.WriteFile("agent.ini", agent);
        }
    }

    // The terminal's end of the agent's port 9, the file "ttyS99" beside it.
    void PlugInTerminal() {
        std::string error;
        m_line = TSimLine::MakePseudoTerminal(m_directory / "ttyS99", error);
        ASSERT_TRUE(m_line) << error;
    }

    std::unique_ptr<IConnection> CallThroughAgent(std::uint16_t port) {
        IConnection* connection = nullptr;
        Error result = m_line->Tunnel().Call(
            TNetworkHostParam(kLoopbackAddress, port, false, nullptr, nullptr), &connection);
        EXPECT_EQ(result.Code(), 0u);
        return std::unique_ptr<IConnection>(connection);
    }

    std::unique_ptr<IConnection> ListenThroughAgent(std::uint16_t port) {
        IConnection* connection = nullptr;
        Error result = m_line->Tunnel().Listen(port, &connection);
        EXPECT_EQ(result.Code(), 0u);
        return std::unique_ptr<IConnection>(connection);
    }

    // The state a tunnelled call or listen settles in, and its error code.
    static std::pair<CONNSTATE, unsigned long> Outcome(IConnection& connection) {
        WaitFor([&] { return connection.GetState() != CONNSTATE_CONNECTING; });
        return {connection.GetState(), connection.GetLastError().Code()};
    }

    // A call to an answering peer, whose request and answer are relayed
    // through the agent until the peer closes.
    void ExchangeThroughAgent(const TAnsweringPeer& server, const std::string& request,
                              std::string& answer, long& lastReceived) {
        std::unique_ptr<IConnection> connection = CallThroughAgent(server.Port());
        ASSERT_TRUE(connection);
        ASSERT_TRUE(WaitFor([&] { return connection->GetState() != CONNSTATE_CONNECTING; }));
        ASSERT_EQ(connection->GetState(), CONNSTATE_CONNECTED);
        EXPECT_EQ(connection->Send(reinterpret_cast<const unsigned char*>(request.data()),
                                   request.size()),
                  static_cast<long>(request.size()));
        WaitFor([&] {
            unsigned char buffer[64];
            lastReceived = connection->Receive(buffer, sizeof buffer);
            if (lastReceived > 0) {
                answer.append(reinterpret_cast<char*>(buffer),
                              static_cast<std::size_t>(lastReceived));
            }
            return lastReceived < 0;
        });
    }

    // A serving agent on port 9 and one exchange through it with the peer.
    void ServeAndExchange(const TAnsweringPeer& server, const std::string& request,
                          std::string& answer, long& lastReceived) {
        WriteSettings("ComPort=9\r\n", "Enabled=1\r\n");
        PlugInTerminal();
        m_agent.Start();
        ASSERT_TRUE(m_line->WaitForAgent(20, [] { return false; }));
        ExchangeThroughAgent(server, request, answer, lastReceived);
    }

    // The name of the socket log in "Trace" once it is complete, which it is
    // when the agent has dropped the connection; empty if that never happens.
    std::string WaitForClosedSocketLog() const {
        std::string socketLogName;
        WaitFor([&] {
            for (const auto& entry : std::filesystem::directory_iterator(m_directory / "Trace")) {
                std::string name = entry.path().filename();
                if (name.starts_with("sock") && Count(TraceFile(name), "Disconnected") == 1) {
                    socketLogName = name;
                    return true;
                }
            }
            return false;
        });
        return socketLogName;
    }

    std::string TraceFile(const std::string& name) const {
        return m_directory.ReadFile("Trace/" + name);
    }

    TempDir m_directory;
    TAgentProgram m_agent{m_directory};
    std::unique_ptr<TSimLine> m_line;
};

TEST_F(AgentProgramTest, WithoutAPortTheProgramEndsAtOnceSilently) {
    for (const char* pinpad : {"", "ComPort=0\r\n", "ComPort= 0 \r\n"}) {
        TempDir directory;
        TAgentProgram agent(directory);
        if (*pinpad != '\0') {
            directory.WriteFile("pinpad.ini", pinpad);
        }
        directory.WriteFile("agent.ini", "Enabled=1\r\n");
        agent.Start();
        EXPECT_EQ(agent.WaitForExit(seconds(5)), 0) << "pinpad.ini: " << pinpad;
        EXPECT_EQ(agent.Output(), "") << "pinpad.ini: " << pinpad;
        EXPECT_FALSE(directory.Exists("Trace")) << "pinpad.ini: " << pinpad;
    }
}

TEST_F(AgentProgramTest, WithoutAgentIniThePortIsNeverOpened) {
    WriteSettings("ComPort=9\r\n", "");
    PlugInTerminal();
    m_agent.Start();

    // Longer than the agent's pause between attempts.
    EXPECT_FALSE(m_line->WaitForAgent(7, [] { return false; }));

    EXPECT_EQ(m_agent.WaitForExit(milliseconds(0)), std::nullopt) << "the agent ended";
    EXPECT_FALSE(m_directory.Exists("Trace/CommLog9.txt"));
    EXPECT_EQ(m_agent.Output(), "");
}

TEST_F(AgentProgramTest, CallThroughTheAgentRelaysBothWaysAndLogsTheTraffic) {
    TAnsweringPeer server(20, "pong from the network");
    std::string answer;
    long received = 0;
    ASSERT_NO_FATAL_FAILURE(ServeAndExchange(server, "ping from the pinpad", answer, received));
    EXPECT_EQ(server.Request(), "ping from the pinpad");
    EXPECT_EQ(answer, "pong from the network");
    EXPECT_LT(received, 0) << "the peer's close did not reach the terminal";

    const std::string socketLogName = WaitForClosedSocketLog();
    ASSERT_FALSE(socketLogName.empty());
    std::vector<std::string> socketLog = CommLogEntries(TraceFile(socketLogName));
    ASSERT_GE(socketLog.size(), 4u);
    EXPECT_TRUE(socketLog.front().starts_with("Connected"));
    EXPECT_TRUE(socketLog.back().starts_with("Disconnected"));
    EXPECT_EQ(Count(TraceFile(socketLogName), "70 69 6E 67 20"), 1u);  // "ping " sent
    EXPECT_EQ(Count(TraceFile(socketLogName), "70 6F 6E 67 20"), 1u);  // "pong " received

    std::string lineLog = TraceFile("CommLog9.txt");
    ASSERT_NE(lineLog.find(" >"), std::string::npos);
    EXPECT_LT(lineLog.find(" Connected\r\n"), lineLog.find(" >"));
    EXPECT_NE(lineLog.find(" <"), std::string::npos);
    EXPECT_FALSE(m_directory.Exists("Trace/AllowList.txt")) << "nothing was screened";
    EXPECT_EQ(m_agent.Output(), "");
}

TEST_F(AgentProgramTest, TheTrafficLogDecoderReadsBackWhatTheAgentLogged) {
    TAnsweringPeer server(20, "pong from the network");
    std::string answer;
    long received = 0;
    ASSERT_NO_FATAL_FAILURE(ServeAndExchange(server, "ping from the pinpad", answer, received));
    ASSERT_EQ(answer, "pong from the network");
    ASSERT_FALSE(WaitForClosedSocketLog().empty());

    const std::string output = m_directory / "decoded.txt";
    ChildProcess decoder({ToolPath("commlog-decode"), m_directory / "Trace"},
                         ChildProcess::TOptions{.directory = "", .output = output, .error = ""});
    ASSERT_EQ(decoder.WaitForExit(10000), 0);
    const std::string report = m_directory.ReadFile("decoded.txt");
    const std::string port = std::to_string(server.Port());
    for (const std::string& piece : std::vector<std::string>{
             "<   CALL #1 -> 127.0.0.1:" + port + "\n",
             ">   CALL_RESULT #1 ok\n",
             "<   DATA_OUT #1 20 bytes \"ping from the pinpad\"\n",
             ">   DATA_IN #1 21 bytes \"pong from the network\"\n",
             ">   CLOSED #1\n",
             "CommLog9.txt #1 CALL 127.0.0.1:" + port + ": ",
             "20 bytes out, 21 bytes in, closed from the network side (CLOSED)\n",
             "connection 1 outgoing: ",
             "20 bytes out, 21 bytes in, closed\n",
         }) {
        EXPECT_NE(report.find(piece), std::string::npos) << piece << "\n" << report;
    }
    EXPECT_EQ(report.find("decoding stopped"), std::string::npos) << report;
    EXPECT_EQ(report.find("bad CRC"), std::string::npos) << report;
    // The agent's own measures on a clean line are no problems.
    EXPECT_NE(report.find("\nProblems: 0\n"), std::string::npos) << report;
    EXPECT_NE(report.find("doubled ACK: "), std::string::npos) << report;
}

// With TrafficLogs=0 the logs keep the connections and errors but no bytes.
TEST_F(AgentProgramTest, TrafficLogsOffKeepsNoPayloads) {
    m_directory.WriteFile("agent.ini", "Enabled=1\r\nTrafficLogs=0\r\n");
    TAnsweringPeer server(20, "pong from the network");
    WriteSettings("ComPort=9\r\n", "");
    PlugInTerminal();
    m_agent.Start();
    ASSERT_TRUE(m_line->WaitForAgent(20, [] { return false; }));
    std::string answer;
    long received = 0;
    ExchangeThroughAgent(server, "ping from the pinpad", answer, received);
    ASSERT_EQ(answer, "pong from the network");
    const std::string socketLog = WaitForClosedSocketLog();
    ASSERT_FALSE(socketLog.empty());
    const std::string text = TraceFile(socketLog) + TraceFile("CommLog9.txt");
    EXPECT_EQ(text.find(" >"), std::string::npos) << text;
    EXPECT_EQ(text.find(" <"), std::string::npos) << text;
    EXPECT_NE(TraceFile(socketLog).find("Disconnected"), std::string::npos);
    EXPECT_EQ(m_agent.Output(), "");
}

TEST_F(AgentProgramTest, SwitchingTheServiceOffAndOnStartsANewCycleWithAReset) {
    WriteSettings("ComPort=9\r\n", "Enabled=1\r\n");
    PlugInTerminal();
    LoopbackListener server = ListenOnLoopback();  // the kernel completes connects unaccepted
    m_agent.Start();
    ASSERT_TRUE(m_line->WaitForAgent(20, [] { return false; }));
    std::unique_ptr<IConnection> connection = CallThroughAgent(server.port);
    ASSERT_TRUE(WaitFor([&] { return connection->GetState() == CONNSTATE_CONNECTED; }));

    auto lineLogHas = [this](const char* entry, std::size_t count) {
        return Count(TraceFile("CommLog9.txt"), entry) >= count;
    };
    const Clock::time_point disabled = Clock::now();
    m_directory.WriteFile("agent.ini", "Enabled=0\r\n");
    ASSERT_TRUE(WaitFor([&] { return lineLogHas(" Disconnected", 1); }, seconds(12)));
    const Clock::time_point closed = Clock::now();
    // Settings are looked at every 5 s: the switch is seen at the next look,
    // with room for a slow machine.
    EXPECT_LE(MillisecondsSince(disabled), 10000) << "the switch took too long to be seen";

    // The agent dropped its side without a word: the terminal still sees the
    // connection up until the next cycle's reset arrives.
    EXPECT_EQ(connection->GetState(), CONNSTATE_CONNECTED);
    m_directory.WriteFile("agent.ini", "Enabled=1\r\n");
    ASSERT_TRUE(WaitFor([&] { return lineLogHas(" Connected\r\n", 2); }, seconds(12)));
    // The pause between cycles is 5 s; the close may have been noticed here
    // a little after it happened.
    EXPECT_GE(MillisecondsSince(closed), 4000) << "the next cycle came too soon";

    // The new cycle's first frame carries the reset request, which closes the
    // terminal's connection.
    ASSERT_TRUE(
        WaitFor([&] { return connection->GetState() == CONNSTATE_DISCONNECTED; }, seconds(5)));
    const std::string lineLog = TraceFile("CommLog9.txt");
    const std::size_t secondCycle =
        lineLog.find(" Connected\r\n", lineLog.find(" Connected\r\n") + 1);
    const std::size_t firstSent = lineLog.find(" >", secondCycle);
    ASSERT_NE(firstSent, std::string::npos);
    const std::string firstRow =
        lineLog.substr(firstSent, lineLog.find("\r\n", firstSent) - firstSent);
    EXPECT_NE(firstRow.find("00 05 09 00 00 00 00"), std::string::npos) << firstRow;
    EXPECT_EQ(m_agent.Output(), "");
}

bool HasPendingPeer(const LoopbackListener& listener) {
    pollfd waiting{listener.socket.Get(), POLLIN, 0};
    return poll(&waiting, 1, 0) > 0;
}

TEST_F(AgentProgramTest, AllowListsAdmitOnlyTheDestinationsTheyName) {
    LoopbackListener allowed = ListenOnLoopback();
    LoopbackListener refused = ListenOnLoopback();
    const std::uint16_t listenAllowed = FreeLoopbackPort();
    const std::uint16_t listenRefused = FreeLoopbackPort();
    WriteSettings("ComPort=9\r\n",
                  "Enabled=1\r\nAllowCall=10.0.0.0/8 127.0.0.1:" + std::to_string(allowed.port) +
                      ",bogus\r\nAllowListen=" + std::to_string(listenAllowed) + ", 0\r\n");
    PlugInTerminal();
    m_agent.Start();
    ASSERT_TRUE(m_line->WaitForAgent(20, [] { return false; }));

    std::unique_ptr<IConnection> call = CallThroughAgent(allowed.port);  // #1
    EXPECT_EQ(Outcome(*call), std::make_pair(CONNSTATE_CONNECTED, 0ul));
    EXPECT_TRUE(HasPendingPeer(allowed));

    std::unique_ptr<IConnection> barred = CallThroughAgent(refused.port);  // #2
    EXPECT_EQ(Outcome(*barred), std::make_pair(CONNSTATE_DISCONNECTED, 20001ul));
    EXPECT_FALSE(HasPendingPeer(refused)) << "the refused call reached its destination";

    std::unique_ptr<IConnection> listen = ListenThroughAgent(listenAllowed);  // #3
    TDescriptor peer;
    ASSERT_TRUE(WaitFor([&] {
        peer = ConnectToLoopback(listenAllowed);
        return peer.IsOpen();
    }));
    EXPECT_EQ(Outcome(*listen).first, CONNSTATE_CONNECTED);

    std::unique_ptr<IConnection> deaf = ListenThroughAgent(listenRefused);  // #4
    EXPECT_EQ(Outcome(*deaf), std::make_pair(CONNSTATE_DISCONNECTED, 20008ul));
    EXPECT_FALSE(ConnectToLoopback(listenRefused).IsOpen()) << "the refused listen is open";

    EXPECT_EQ(CommLogEntries(TraceFile("AllowList.txt")),
              (std::vector<std::string>{
                  "Ignored AllowCall entry \"bogus\"",
                  "Ignored AllowListen entry \"0\"",
                  "Refused call #2 to 127.0.0.1:" + std::to_string(refused.port),
                  "Refused listen #4 on port " + std::to_string(listenRefused),
              }));
    EXPECT_EQ(m_agent.Output(), "");
}

TEST_F(AgentProgramTest, AllowListsChangedWhileServingTakeEffectWithinSeconds) {
    LoopbackListener first = ListenOnLoopback();
    LoopbackListener second = ListenOnLoopback();
    auto allowOnly = [](const LoopbackListener& listener) {
        return "Enabled=1\r\nAllowCall=127.0.0.1:" + std::to_string(listener.port) + "\r\n";
    };
    WriteSettings("ComPort=9\r\n", allowOnly(first));
    PlugInTerminal();
    m_agent.Start();
    ASSERT_TRUE(m_line->WaitForAgent(20, [] { return false; }));
    auto callSettles = [this](const LoopbackListener& listener) {
        return Outcome(*CallThroughAgent(listener.port)).first;
    };
    EXPECT_EQ(callSettles(first), CONNSTATE_CONNECTED);
    EXPECT_EQ(callSettles(second), CONNSTATE_DISCONNECTED);

    m_directory.WriteFile("agent.ini", allowOnly(second));
    ASSERT_TRUE(WaitFor([&] { return callSettles(second) == CONNSTATE_CONNECTED; }, seconds(12)))
        << "the changed list was not read while serving";
    EXPECT_EQ(callSettles(first), CONNSTATE_DISCONNECTED);

    // Without the key, every destination is open again.
    m_directory.WriteFile("agent.ini", "Enabled=1\r\n");
    ASSERT_TRUE(WaitFor([&] { return callSettles(first) == CONNSTATE_CONNECTED; }, seconds(12)));
    EXPECT_EQ(m_agent.Output(), "");
}

// The terminal's line device vanishes while the agent serves it (an adapter
// unplugged: the far end closes and the device name goes) and comes back
// later: the agent gives the dead port up, tries again every few seconds and
// serves the new device without a restart, beginning with a new reset.
TEST_F(AgentProgramTest, ServiceComesBackWhenTheLineDeviceReturns) {
    WriteSettings("ComPort=9\r\n", "Enabled=1\r\n");
    PlugInTerminal();
    m_agent.Start();
    ASSERT_TRUE(m_line->WaitForAgent(20, [] { return false; }));
    {
        TAnsweringPeer server(5, "first");
        std::unique_ptr<IConnection> connection = CallThroughAgent(server.Port());
        ASSERT_TRUE(WaitFor([&] { return connection->GetState() == CONNSTATE_CONNECTED; }));
        ASSERT_EQ(connection->Send(reinterpret_cast<const unsigned char*>("hello"), 5), 5);
        EXPECT_EQ(server.Request(), "hello");

        m_line.reset();  // unplugged, with the connection still open
    }
    auto lineLogHas = [this](const char* entry, std::size_t count) {
        return Count(TraceFile("CommLog9.txt"), entry) >= count;
    };
    ASSERT_TRUE(WaitFor([&] { return lineLogHas(" Disconnected", 1); }, seconds(5)))
        << "the agent kept the dead line";

    PlugInTerminal();  // a new device under the same name
    ASSERT_TRUE(m_line->WaitForAgent(20, [] { return false; }));
    EXPECT_TRUE(lineLogHas(" Connected\r\n", 2));
    TAnsweringPeer server(6, "second");
    std::unique_ptr<IConnection> connection = CallThroughAgent(server.Port());
    ASSERT_TRUE(WaitFor([&] { return connection->GetState() == CONNSTATE_CONNECTED; }));
    ASSERT_EQ(connection->Send(reinterpret_cast<const unsigned char*>("again!"), 6), 6);
    EXPECT_EQ(server.Request(), "again!");

    // The agent's first data frame of the new cycle carries its reset request.
    const std::string lineLog = TraceFile("CommLog9.txt");
    const std::size_t secondCycle =
        lineLog.find(" Connected\r\n", lineLog.find(" Connected\r\n") + 1);
    const std::size_t firstFrame = lineLog.find(" >C0 41", secondCycle);
    ASSERT_NE(firstFrame, std::string::npos) << lineLog;
    EXPECT_NE(lineLog.substr(firstFrame, lineLog.find("\r\n", firstFrame) - firstFrame)
                  .find("00 05 09 00 00 00 00"),
              std::string::npos)
        << lineLog;
    EXPECT_EQ(m_agent.WaitForExit(milliseconds(0)), std::nullopt) << "the agent ended";
    EXPECT_EQ(m_agent.Output(), "");
}

}  // namespace
