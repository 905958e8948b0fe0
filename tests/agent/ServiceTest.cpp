// The agent program as the service units run it: the real binary, with
// NOTIFY_SOCKET naming a datagram socket of the test, tells when it is ready,
// what it is doing and that it is alive; its logs in a log directory of the
// installed kind are readable by that directory's group.

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "AgentProgram.h"
#include "RawTerminal.h"
#include "agent/ServiceStatus.h"
#include "common/SimLine.h"
#include "platform/Descriptor.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

// The service manager's end: a datagram socket in the test's directory,
// named to the agent through NOTIFY_SOCKET (and WATCHDOG_USEC when given) in
// the environment it inherits.
class TNotifySocket {
  public:
    TNotifySocket(const TempDir& directory, const char* watchdogUsec) {
        const std::string path = directory / "notify";
        m_socket.Reset(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        EXPECT_LT(path.size(), sizeof address.sun_path);
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(bind(m_socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        setenv("NOTIFY_SOCKET", path.c_str(), 1);
        if (watchdogUsec != nullptr) {
            setenv("WATCHDOG_USEC", watchdogUsec, 1);
        }
    }
    ~TNotifySocket() {
        unsetenv("NOTIFY_SOCKET");
        unsetenv("WATCHDOG_USEC");
    }
    TNotifySocket(const TNotifySocket&) = delete;
    TNotifySocket& operator=(const TNotifySocket&) = delete;

    // The next message, or empty when none comes within limit.
    std::string Receive(milliseconds limit) {
        pollfd ready{m_socket.Get(), POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(limit.count())) != 1) {
            return {};
        }
        char buffer[4096];
        ssize_t length = recv(m_socket.Get(), buffer, sizeof buffer, 0);
        return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
    }

    // Messages until one matches pattern or limit has passed; the matching
    // one is the last.
    std::vector<std::string> ReceiveUntil(const std::string& pattern, milliseconds limit) {
        const std::regex wanted(pattern);
        const auto deadline = Clock::now() + limit;
        std::vector<std::string> messages;
        while (Clock::now() < deadline) {
            std::string message =
                Receive(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()) +
                        milliseconds(1));
            if (message.empty()) {
                break;
            }
            messages.push_back(message);
            if (std::regex_match(message, wanted)) {
                break;
            }
        }
        return messages;
    }

  private:
    TDescriptor m_socket;
};

std::string Joined(const std::vector<std::string>& messages) {
    std::string text;
    for (const std::string& message : messages) {
        text += "[" + message + "] ";
    }
    return text;
}

const std::string kTime = "[0-2][0-9]:[0-5][0-9]:[0-6][0-9]";

class ServiceTest : public testing::Test {
  protected:
    void PlugInTerminal() {
        std::string error;
        m_line = TSimLine::MakePseudoTerminal(m_directory / "ttyS99", error);
        ASSERT_TRUE(m_line) << error;
    }

    TempDir m_directory;
    TAgentProgram m_agent{m_directory};
    std::unique_ptr<TSimLine> m_line;
};

// READY=1 comes once, with the first status; before it nothing is sent.
TEST_F(ServiceTest, ReadyComesWithTheFirstStatusOfEachStartingPoint) {
    struct TCase {
        const char* pinpad;
        const char* agent;
        const char* status;
    } cases[] = {
        {"", "Enabled=1\r\n", "no serial port configured"},
        {"ComPort=9\r\n", "", "idle on ttyS99, link down: disabled in agent.ini"},
        {"ComPort=9\r\n", "Enabled=1\r\n",
         "waiting for ttyS99, link down: the port cannot be opened"},
    };
    for (const TCase& c : cases) {
        TempDir directory;
        TAgentProgram agent(directory);
        if (*c.pinpad != '\0') {
            directory.WriteFile("pinpad.ini", c.pinpad);
        }
        if (*c.agent != '\0') {
            directory.WriteFile("agent.ini", c.agent);
        }
        TNotifySocket manager(directory, nullptr);
        agent.Start();
        EXPECT_EQ(manager.Receive(seconds(10)), std::string("READY=1\nSTATUS=") + c.status)
            << c.pinpad << c.agent;
        EXPECT_EQ(manager.Receive(milliseconds(300)), "") << "no watchdog was asked for";
    }
}

TEST_F(ServiceTest, ServingAgentReportsTheLinkAndKeepsTheWatchdogFed) {
    m_directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
    m_directory.WriteFile("agent.ini", "Enabled=1\r\n");
    ASSERT_NO_FATAL_FAILURE(PlugInTerminal());
    // Keep-alives every 150 ms at the least; the serving loop looks at least
    // once a second.
    TNotifySocket manager(m_directory, "300000");
    m_agent.Start();

    std::vector<std::string> messages = manager.ReceiveUntil("READY=1\nSTATUS=.*", seconds(10));
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(std::regex_match(
        messages.back(),
        std::regex("READY=1\nSTATUS=serving ttyS99, link down, terminal not heard yet, "
                   "0 connections, "
                   "0 NAKs, last reset " +
                   kTime)))
        << messages.back();

    // Nothing on the line answers, so nothing changes but the keep-alives.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(manager.Receive(seconds(3)), "WATCHDOG=1");
    }

    // The terminal goes away: the line is lost, and the port cannot be
    // opened again.
    m_line.reset();
    messages = manager.ReceiveUntil("STATUS=.*cannot be opened.*", seconds(15));
    std::vector<std::string> statuses;
    for (const std::string& message : messages) {
        if (message != "WATCHDOG=1") {
            statuses.push_back(message);
        }
    }
    const std::string lastReset = ", last reset " + kTime;
    ASSERT_EQ(statuses.size(), 2u) << Joined(messages);
    EXPECT_TRUE(std::regex_match(
        statuses[0],
        std::regex("STATUS=waiting for ttyS99, link down: the line was lost" + lastReset)))
        << statuses[0];
    EXPECT_TRUE(std::regex_match(
        statuses[1], std::regex("STATUS=waiting for ttyS99, link down: the port cannot be "
                                "opened" +
                                lastReset)))
        << statuses[1];
    const std::string told =
        "agent: serial port " + (m_directory / "ttyS99") +
        " cannot be opened: No such file or directory; trying again every 5 s\n";
    EXPECT_TRUE(WaitFor([&] { return m_agent.Output() == told; })) << m_agent.Output();
}

// Idle, disabled or waiting for its port, the agent feeds the watchdog at half its interval;
// SIGTERM and SIGINT bring STOPPING=1, and the agent ends by that signal.
TEST_F(ServiceTest, WatchdogIsFedInEveryStateAndAStopIsAnnounced) {
    struct TCase {
        const char* agent;
        int signal;
        int keepAlives;  // the first case waits through a 5 s pause between attempts
    } cases[] = {{"", SIGTERM, 12}, {"Enabled=1\r\n", SIGINT, 3}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.agent);
        TempDir directory;
        directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
        if (*c.agent != '\0') {
            directory.WriteFile("agent.ini", c.agent);
        }
        TAgentProgram agent(directory);
        TNotifySocket manager(directory, "1000000");
        agent.Start();
        ASSERT_TRUE(manager.Receive(seconds(10)).starts_with("READY=1"));
        // Keep-alives every 500 ms: each comes well within the second the watchdog allows,
        // through the 5 s pause between attempts too.
        for (int i = 0; i < c.keepAlives; ++i) {
            ASSERT_EQ(manager.Receive(milliseconds(1000)), "WATCHDOG=1") << i;
        }
        ASSERT_EQ(kill(agent.Pid(), c.signal), 0);
        const std::vector<std::string> messages = manager.ReceiveUntil("STOPPING=1", seconds(5));
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back(), "STOPPING=1") << Joined(messages);
        EXPECT_EQ(agent.WaitForExit(seconds(5)), -c.signal);
    }
}

// The status line carries the link, the connections and the NAKs of both
// ways, as a terminal played frame by frame changes them.
TEST_F(ServiceTest, StatusLineCarriesTheCounts) {
    m_directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
    m_directory.WriteFile("agent.ini", "Enabled=1\r\n");
    std::unique_ptr<TRawTerminal> terminal = TRawTerminal::Make(m_directory / "ttyS99");
    ASSERT_TRUE(terminal);
    TNotifySocket manager(m_directory, nullptr);
    m_agent.Start();
    ASSERT_EQ(terminal->NextPacket(20000), "RESET 0");

    // The status lines until one matches pattern; the terminal meanwhile
    // takes and acknowledges what the agent sends.
    const auto statusUntil = [&](const std::string& pattern) {
        const std::regex wanted(
            "(READY=1\n)?STATUS=serving ttyS99, link up, terminal last heard [0-9]+ s ago, " +
            pattern + ", last reset " + kTime);
        const auto deadline = Clock::now() + seconds(10);
        std::vector<std::string> messages;
        while (Clock::now() < deadline) {
            terminal->Pump(20);
            for (std::string message = manager.Receive(milliseconds(0)); !message.empty();
                 message = manager.Receive(milliseconds(0))) {
                messages.push_back(message);
                if (std::regex_match(message, wanted)) {
                    return Joined(messages);
                }
            }
        }
        ADD_FAILURE() << "no " << pattern << " in " << Joined(messages);
        return Joined(messages);
    };
    statusUntil("0 connections, 0 NAKs");

    LoopbackListener server = ListenOnLoopback();
    terminal->Send(TSerialPacket(ACTION_CALL, 1, kLoopbackAddress, server.port, 0));
    EXPECT_EQ(terminal->NextPacket(), "CALL_RESULT 1 err=0");
    statusUntil("1 connection, 0 NAKs");

    // The terminal refuses a frame once.
    terminal->acknowledge = false;
    terminal->Send(TSerialPacket(ACTION_DATA_OUT, 7, T_BinaryData("?")));
    EXPECT_EQ(terminal->NextPacket(), "CLOSED 7");
    terminal->acknowledge = true;
    terminal->SendNak(terminal->lastDataSequence);
    statusUntil("1 connection, 1 NAK");

    terminal->Send(TSerialPacket(ACTION_CLOSE, 1, 0, 0, 0));
    const std::string messages = statusUntil("0 connections, 1 NAK");
    EXPECT_EQ(messages.find("READY"), std::string::npos) << "READY=1 came twice: " << messages;
    EXPECT_EQ(m_agent.Output(), "");
}

// The log directory as the package makes it: set-group-ID, of a group the
// agent is not in; the unit's umask 0027. New logs belong to the directory's
// group, which may read them, and to no one else.
TEST_F(ServiceTest, LogsAreReadableByTheLogDirectorysGroupOnly) {
    constexpr gid_t kLogGroup = 4;
    const std::string trace = m_directory / "Trace";
    ASSERT_EQ(mkdir(trace.c_str(), 0750), 0);
    ASSERT_EQ(chown(trace.c_str(), getuid(), kLogGroup), 0);
    ASSERT_EQ(chmod(trace.c_str(), 02750), 0);
    m_directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
    m_directory.WriteFile("agent.ini", "Enabled=1\r\n");
    ASSERT_NO_FATAL_FAILURE(PlugInTerminal());

    const mode_t umaskBefore = umask(0027);
    m_agent.Start();
    umask(umaskBefore);
    ASSERT_TRUE(m_line->WaitForAgent(20, [] { return false; }));

    struct stat log {};
    ASSERT_EQ(stat((trace + "/CommLog9.txt").c_str(), &log), 0);
    EXPECT_EQ(log.st_gid, kLogGroup);
    EXPECT_EQ(log.st_mode & 07777, 0640u);
}

TEST(ServiceStatusTest, LineNamesTheStateThenTheFiguresThenTheLastReset) {
    using EState = TServiceStatus::EState;
    const std::vector<TServiceStatus::TFigure> figures = {
        {"connection", "connections", 1}, {"NAK", "NAKs", 14}, {"repeat", "repeats", 0}};
    struct TCase {
        TServiceStatus status;
        const char* line;
    } cases[] = {
        {{EState::NoPort, "", {}, {}, "", {}}, "no serial port configured"},
        {{EState::Serving, "/dev/ttyS0", {}, {}, "", {}}, "serving /dev/ttyS0"},
        {{EState::Serving, "/dev/ttyS0", false, {}, "", {}}, "serving /dev/ttyS0, link down"},
        {{EState::Serving, "/dev/ttyS0", true, figures, "10:03:12", {}},
         "serving /dev/ttyS0, link up, 1 connection, 14 NAKs, 0 repeats, last reset 10:03:12"},
        {{EState::Disabled, "ttyS99", true, {}, "10:03:12", {}},
         "idle on ttyS99, link down: disabled in agent.ini, last reset 10:03:12"},
        {{EState::Serving, "ttyS99", true, figures, "10:03:12", 3},
         "serving ttyS99, link up, terminal last heard 3 s ago, 1 connection, 14 NAKs, 0 repeats, "
         "last reset 10:03:12"},
        {{EState::Serving, "ttyS99", false, {}, "", TServiceStatus::kNeverHeard},
         "serving ttyS99, link down, terminal not heard yet"},
        {{EState::PortBusy, "ttyS99", {}, {}, "", 3},
         "waiting for ttyS99, link down: the port is in use by another program"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(c.status.Line(), c.line);
    }
}

}  // namespace
