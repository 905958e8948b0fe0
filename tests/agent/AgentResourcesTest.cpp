// The agent program's resources, settings and exposure: the real binary in a
// directory of its own, on a pseudo-terminal whose other end is a terminal
// played frame by frame, with loopback peers. Descriptors, listening ports and
// memory are read from /proc.

#include <gtest/gtest.h>
#include <algorithm>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "AgentProgram.h"
#include "RawTerminal.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// The IPv4 ports some socket of this machine listens on.
std::set<std::uint16_t> ListeningPorts() {
    std::set<std::uint16_t> ports;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A") {
            ports.insert(static_cast<std::uint16_t>(
                std::stoul(local.substr(local.find(':') + 1), nullptr, 16)));
        }
    }
    return ports;
}

bool IsListening(std::uint16_t port) {
    return ListeningPorts().contains(port);
}

std::string ProcPath(pid_t pid, const std::string& name) {
    return "/proc/" + std::to_string(pid) + "/" + name;
}

// The process's open descriptors with what each refers to.
std::vector<std::pair<int, std::string>> Descriptors(pid_t pid) {
    std::vector<std::pair<int, std::string>> descriptors;
    for (const auto& entry : std::filesystem::directory_iterator(ProcPath(pid, "fd"))) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        descriptors.emplace_back(std::stoi(entry.path().filename().string()), target);
    }
    return descriptors;
}

int SocketCount(pid_t pid) {
    int count = 0;
    for (const auto& [fd, target] : Descriptors(pid)) {
        count += target.starts_with("socket:") ? 1 : 0;
    }
    return count;
}

// What the process holds without close-on-exec, besides its standard streams.
std::vector<std::string> InheritableDescriptors(pid_t pid) {
    std::vector<std::string> inheritable;
    for (const auto& [fd, target] : Descriptors(pid)) {
        if (fd <= 2) {
            continue;
        }
        std::ifstream info(ProcPath(pid, "fdinfo/" + std::to_string(fd)));
        std::string key, flags;
        while (info >> key >> flags && key != "flags:") {
        }
        if (key != "flags:") {
            continue;  // closed meanwhile
        }
        if ((std::stoul(flags, nullptr, 8) & O_CLOEXEC) == 0) {
            inheritable.push_back(std::to_string(fd) + " " + target);
        }
    }
    return inheritable;
}

// The peak resident set of the process, in KiB.
unsigned long PeakRssKb(pid_t pid) {
    std::ifstream status(ProcPath(pid, "status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmHWM:")) {
            return std::stoul(line.substr(6));
        }
    }
    return 0;
}

// An agent built with the sanitizers has a memory of another size and takes
// its time: the memory figure means something only without them, and their
// checks need free descriptors of their own.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kWithoutSanitizers = false;
#else
constexpr bool kWithoutSanitizers = true;
#endif

TSerialPacket DataOut(unsigned long socketId, const std::string& text) {
    return TSerialPacket(ACTION_DATA_OUT, socketId, T_BinaryData(text));
}

TSerialPacket Listen(unsigned long socketId, std::uint16_t port) {
    return TSerialPacket(ACTION_LISTEN, socketId, 0, port, 0);
}

TSerialPacket Call(unsigned long socketId, std::uint16_t port) {
    return TSerialPacket(ACTION_CALL, socketId, kLoopbackAddress, port, 0);
}

TSerialPacket Close(unsigned long socketId) {
    return TSerialPacket(ACTION_CLOSE, socketId, 0, 0, 0);
}

class AgentResourcesTest : public testing::Test {
  protected:
    // A serving agent on port 9 whose reset has reached the terminal.
    void Serve(const std::vector<std::string>& arguments = {}, unsigned openFileLimit = 0) {
        if (!m_directory.Exists("pinpad.ini")) {
            m_directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
        }
        if (!m_directory.Exists("agent.ini")) {
            m_directory.WriteFile("agent.ini", "Enabled=1\r\n");
        }
        m_terminal = TRawTerminal::Make(m_directory / "ttyS99");
        ASSERT_TRUE(m_terminal);
        m_agent.Start(arguments, openFileLimit);
        ASSERT_EQ(m_terminal->NextPacket(20000), "RESET 0") << m_agent.Output();
    }

    // Everything the agent sends until it has handled what the terminal sent before: a data
    // packet for an id nobody uses is answered with its closed notice. The ids take turns in
    // ascending order from the one served last, and the marker's id is the highest, so notices
    // of lower ids still waiting when the first marker's notice went out come before the
    // second's.
    std::vector<std::string> Sync() {
        std::vector<std::string> before;
        for (int round = 0; round < 2; ++round) {
            constexpr unsigned long kUnusedId = 0xFFFFFF00;
            m_terminal->Send(DataOut(kUnusedId, "?"));
            for (std::string packet = m_terminal->NextPacket(); packet != "CLOSED 4294967040";
                 packet = m_terminal->NextPacket()) {
                if (packet.empty()) {
                    ADD_FAILURE() << "the agent stopped answering: " << m_agent.Output();
                    return before;
                }
                before.push_back(packet);
            }
        }
        return before;
    }

    // A call to a loopback peer that receives the text sent through it.
    void RelayThroughAgent(const std::string& text) {
        LoopbackListener server = ListenOnLoopback();
        m_terminal->Send(Call(1, server.port));
        EXPECT_EQ(m_terminal->NextPacket(), "CALL_RESULT 1 err=0");
        TDescriptor peer = AcceptPeer(server.socket);
        m_terminal->Send(DataOut(1, text));
        EXPECT_EQ(ReceiveExactly(peer, text.size()), text);
    }

    std::vector<std::string> OutputLines() const {
        std::vector<std::string> lines;
        std::istringstream output(m_agent.Output());
        for (std::string line; std::getline(output, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    TempDir m_directory;
    TAgentProgram m_agent{m_directory};
    std::unique_ptr<TRawTerminal> m_terminal;
};

// A port is open while a LISTEN uses it: closing the last listen of a port,
// a reset, and a disabled service each close it. A listen on port 0 is refused.
TEST_F(AgentResourcesTest, ListeningPortsLiveOnlyWhileAListenUsesThem) {
    ASSERT_NO_FATAL_FAILURE(Serve());
    const pid_t agent = m_agent.Pid();
    const std::uint16_t shared = FreeLoopbackPort();
    const std::uint16_t single = FreeLoopbackPort();
    m_terminal->Send({Listen(1, shared), Listen(2, shared), Listen(3, single), Listen(4, 0)});
    EXPECT_EQ(Sync(), std::vector<std::string>{"CALL_RESULT 4 err=20008"});
    EXPECT_TRUE(IsListening(shared));
    EXPECT_TRUE(IsListening(single));
    EXPECT_EQ(SocketCount(agent), 2) << "one listening socket per port";

    m_terminal->Send(Close(1));
    EXPECT_TRUE(Sync().empty());
    EXPECT_TRUE(IsListening(shared)) << "the port's other listen still uses it";
    m_terminal->Send(Close(2));
    EXPECT_TRUE(Sync().empty());
    EXPECT_FALSE(IsListening(shared));
    EXPECT_EQ(SocketCount(agent), 1);

    m_terminal->Send(TSerialPacket(ACTION_RESET, 0, 0, 0, 0));
    EXPECT_TRUE(Sync().empty());
    EXPECT_FALSE(IsListening(single));
    EXPECT_EQ(SocketCount(agent), 0);

    m_terminal->Send(Listen(5, shared));
    EXPECT_TRUE(Sync().empty());
    EXPECT_TRUE(IsListening(shared));
    m_directory.WriteFile("agent.ini", "Enabled=0\r\n");
    EXPECT_TRUE(WaitFor([&] { return !IsListening(shared); }, seconds(12)))
        << "the port outlived the service";
    EXPECT_EQ(SocketCount(agent), 0);
    EXPECT_EQ(m_agent.Output(), "");
}

// Descriptors used up by listens come back when the listens go: calls and
// listens work again without a restart.
TEST_F(AgentResourcesTest, RunningOutOfDescriptorsPasses) {
    if (!kWithoutSanitizers) {
        // The sanitizers' own checks open pipes; without a free descriptor
        // they report sound objects as broken.
        GTEST_SKIP() << "not with the sanitizers";
    }
    constexpr unsigned kLimit = 32;
    ASSERT_NO_FATAL_FAILURE(Serve({}, kLimit));
    LoopbackListener server = ListenOnLoopback();
    std::vector<std::string> refused;
    for (unsigned long id = 1; id <= kLimit; ++id) {
        m_terminal->Send(Listen(id, FreeLoopbackPort()));
    }
    m_terminal->Send(Call(100, server.port));
    const std::vector<std::string> answers = Sync();
    ASSERT_FALSE(answers.empty()) << "every listen got a descriptor";
    EXPECT_EQ(std::count(answers.begin(), answers.end(), "CALL_RESULT 100 err=20006"), 1);
    for (const std::string& answer : answers) {
        EXPECT_TRUE(answer == "CALL_RESULT 100 err=20006" ||
                    std::regex_match(answer, std::regex("CALL_RESULT [0-9]+ err=20008")))
            << answer;
    }

    m_terminal->Send(TSerialPacket(ACTION_RESET, 0, 0, 0, 0));
    m_terminal->Send(Call(101, server.port));
    EXPECT_EQ(m_terminal->NextPacket(), "CALL_RESULT 101 err=0");
    const std::uint16_t port = FreeLoopbackPort();
    m_terminal->Send(Listen(102, port));
    EXPECT_TRUE(Sync().empty());
    EXPECT_TRUE(IsListening(port));
}

// A terminal that stops acknowledging while it sends data for 200,000 ids
// nobody uses: the notices waiting for it are bounded, and so is the
// agent's memory. Once it answers again, the newest notices reach it.
TEST_F(AgentResourcesTest, NoticesForATerminalThatDoesNotAcknowledgeStayBounded) {
    ASSERT_NO_FATAL_FAILURE(Serve());
    m_terminal->acknowledge = false;
    constexpr unsigned long kIds = kWithoutSanitizers ? 200000 : 50000;
    constexpr unsigned long kPerFrame = 31;  // 8 bytes each
    for (unsigned long first = 1; first <= kIds; first += kPerFrame) {
        std::vector<TSerialPacket> packets;
        for (unsigned long id = first; id < first + kPerFrame && id <= kIds; ++id) {
            packets.push_back(DataOut(id, "x"));
        }
        m_terminal->Send(packets);
    }
    // A call behind them all shows when the agent has handled every packet.
    LoopbackListener probe = ListenOnLoopback();
    m_terminal->Send(Call(kIds + 1, probe.port));
    ASSERT_TRUE(WaitFor(
        [&] {
            m_terminal->Pump(10);
            pollfd waiting{probe.socket.Get(), POLLIN, 0};
            return poll(&waiting, 1, 0) > 0;
        },
        seconds(60)))
        << "the agent took " << m_terminal->acksSeen << " of " << m_terminal->framesSent
        << " frames";
    const unsigned long peakKb = PeakRssKb(m_agent.Pid());
    std::cout << "agent peak RSS after notices for " << kIds << " ids: " << peakKb << " KiB\n";
    if (kWithoutSanitizers) {
        EXPECT_LT(peakKb, 16u * 1024u);
    }

    // What the agent gave up on its own meanwhile (a portion unanswered for
    // good) went out already; the rest waited.
    const std::size_t sentUnanswered = m_terminal->TakePackets().size();
    m_terminal->acknowledge = true;
    std::set<std::string> notices;
    EXPECT_TRUE(WaitFor(
        [&] {
            const std::string packet = m_terminal->NextPacket(100);
            notices.insert(packet);
            return packet == "CLOSED " + std::to_string(kIds);
        },
        seconds(60)))
        << notices.size() << " notices";
    std::cout << sentUnanswered << " notices went out unanswered, " << notices.size()
              << " waited\n";
    EXPECT_FALSE(notices.contains("CLOSED 2")) << "the oldest notices were kept";
    // Besides: the portion on the line, the probe's call result and an empty read.
    EXPECT_LE(notices.size(), 4096u + 3u);
    EXPECT_EQ(m_agent.Output(), "");
}

// A "pinpad.ini" that names no usable port ends the program with status 2 and
// one line naming the file, the key and the value (no file and a port of 0
// still end it quietly with status 0).
TEST_F(AgentResourcesTest, BadPortSettingsEndTheProgramWithOneLine) {
    struct Case {
        const char* pinpad;
        std::string told;  // after "agent: <dir>/pinpad.ini"
    };
    const std::string notAPort = " is not a port number (a whole number from 0 to 65535)\n";
    const std::string notSet = ": ComPort is not set (it must start a line before any [section])\n";
    const Case cases[] = {
        {"ComPort=abc\r\n", ": ComPort \"abc\"" + notAPort},
        {"ComPort=9x\r\n", ": ComPort \"9x\"" + notAPort},
        {"ComPort=-3\r\n", ": ComPort \"-3\"" + notAPort},
        {"ComPort=4294967297\r\n", ": ComPort \"4294967297\"" + notAPort},
        {"ComPort=65536\r\n", ": ComPort \"65536\"" + notAPort},
        {"Other=9\r\n", notSet},
        {"[pinpad]\r\nComPort=9\r\n", notSet},
        {"\x01\x02garbage\xff", notSet},
    };
    for (const Case& c : cases) {
        TempDir directory;
        TAgentProgram agent(directory);
        directory.WriteFile("pinpad.ini", c.pinpad);
        directory.WriteFile("agent.ini", "Enabled=1\r\n");
        agent.Start();
        EXPECT_EQ(agent.WaitForExit(seconds(5)), 2) << c.pinpad;
        EXPECT_EQ(agent.Output(), "agent: " + (directory / "pinpad.ini") + c.told) << c.pinpad;
        EXPECT_FALSE(directory.Exists("Trace")) << c.pinpad;
    }
}

// A bad "Enabled" keeps the service off; it is told once, and again when it
// changes to another bad value.
TEST_F(AgentResourcesTest, BadEnabledKeepsTheServiceOffAndIsToldOncePerValue) {
    m_directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
    m_directory.WriteFile("agent.ini", "Enabled=yes\r\n");
    m_terminal = TRawTerminal::Make(m_directory / "ttyS99");
    ASSERT_TRUE(m_terminal);
    m_agent.Start();
    const std::string prefix = "agent: " + (m_directory / "agent.ini") + ": Enabled ";
    const std::string suffix = " is not a whole number; the service stays off";
    m_terminal->Pump(7000);  // two readings of the file
    EXPECT_EQ(OutputLines(), std::vector<std::string>{prefix + "\"yes\"" + suffix});

    m_directory.WriteFile("agent.ini", "Enabled=1 \r\n");  // blanks around a number are fine
    EXPECT_EQ(m_terminal->NextPacket(12000), "RESET 0");
    m_directory.WriteFile("agent.ini", "Enabled=on\r\n");
    EXPECT_TRUE(WaitFor([&] { return OutputLines().size() == 2; }, seconds(12)));
    EXPECT_EQ(OutputLines().back(), prefix + "\"on\"" + suffix);
    EXPECT_EQ(m_agent.WaitForExit(milliseconds(0)), std::nullopt) << "the agent ended";
}

TEST_F(AgentResourcesTest, CommandLine) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string output;  // a regular expression
    };
    const Case cases[] = {
        {{"--help"}, 0, "usage: agent \\[--dir DIR\\] \\[--trace DIR\\] (.|\n)*"},
        {{"--version"}, 0, "pinpad-agent [0-9]+\\.[0-9]+\\.[0-9]+\n"},
        {{"--dir", ".", "--version"}, 0, "pinpad-agent [0-9.]+\n"},
        {{"--bogus"}, 2, "agent: unknown argument \"--bogus\" \\(see --help\\)\n"},
        {{"serve"}, 2, "agent: unknown argument \"serve\" \\(see --help\\)\n"},
        {{"--dir"}, 2, "agent: --dir needs a directory\n"},
        {{"--trace="}, 2, "agent: --trace needs a directory\n"},
        {{"--dir", "missing"}, 2, "agent: --dir missing: not a directory\n"},
    };
    for (const Case& c : cases) {
        TempDir directory;
        TAgentProgram agent(directory);
        directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
        agent.Start(c.arguments);
        const std::string shown = c.arguments.front() + " ...";
        EXPECT_EQ(agent.WaitForExit(seconds(5)), c.status) << shown;
        EXPECT_TRUE(std::regex_match(agent.Output(), std::regex(c.output)))
            << shown << ": " << agent.Output();
        EXPECT_FALSE(directory.Exists("Trace")) << shown;
    }
}

// One program, its settings in one directory and its logs in another.
TEST_F(AgentResourcesTest, SettingsAndLogsWhereTheCommandLineSays) {
    TempDir settings;
    TempDir logs;
    settings.WriteFile("pinpad.ini", "ComPort=9\r\n");
    settings.WriteFile("agent.ini", "Enabled=1\r\n");
    m_directory.WriteFile("pinpad.ini", "ComPort=5\r\n");  // not these
    ASSERT_NO_FATAL_FAILURE(Serve({"--dir", settings.Path(), "--trace", logs / "traffic"}));
    EXPECT_TRUE(WaitFor([&] { return logs.Exists("traffic/CommLog9.txt"); }));
    EXPECT_FALSE(m_directory.Exists("Trace"));
    EXPECT_FALSE(settings.Exists("Trace"));

    // Without --trace the logs go beside the settings.
    TempDir second;
    TAgentProgram beside(second);
    std::unique_ptr<TRawTerminal> line = TRawTerminal::Make(second / "ttyS99");
    ASSERT_TRUE(line);
    beside.Start({"--dir", settings.Path()});
    EXPECT_EQ(line->NextPacket(20000), "RESET 0") << beside.Output();
    EXPECT_TRUE(WaitFor([&] { return settings.Exists("Trace/CommLog9.txt"); }));
    EXPECT_EQ(beside.Output(), "");
    EXPECT_EQ(m_agent.Output(), "");
}

// A second agent for a port that one already serves says so once, leaves
// the line alone and takes over when the first one has gone.
TEST_F(AgentResourcesTest, OneAgentPerSerialPort) {
    ASSERT_NO_FATAL_FAILURE(Serve());
    TempDir otherDirectory;
    otherDirectory.WriteFile("pinpad.ini", "ComPort=9\r\n");
    otherDirectory.WriteFile("agent.ini", "Enabled=1\r\n");
    std::filesystem::create_symlink(std::filesystem::read_symlink(m_directory / "ttyS99"),
                                    otherDirectory / "ttyS99");
    TAgentProgram other(otherDirectory);
    other.Start();

    const std::string inUse =
        "agent: serial port ttyS99 is in use by another program; trying again every 5 s\n";
    EXPECT_TRUE(WaitFor([&] { return other.Output() == inUse; }));
    m_terminal->Pump(6000);  // another attempt
    EXPECT_EQ(other.Output(), inUse);
    EXPECT_FALSE(otherDirectory.Exists("Trace/CommLog9.txt")) << "the second agent used the line";
    EXPECT_TRUE(Sync().empty());  // the first agent still serves, undisturbed

    m_agent.Stop();
    EXPECT_EQ(m_terminal->NextPacket(12000), "RESET 0") << "the second agent did not take over";
    EXPECT_TRUE(otherDirectory.Exists("Trace/CommLog9.txt"));
    EXPECT_EQ(other.Output(), inUse);
}

// Logs never follow a symbolic link: the traffic stays out of the link's
// target and the link is told once; the other logs are written as usual.
TEST_F(AgentResourcesTest, ALogThatIsASymbolicLinkIsSkippedAndToldOnce) {
    m_directory.WriteFile("outside.txt", "");
    std::filesystem::create_directory(m_directory / "Trace");
    std::filesystem::create_symlink(m_directory / "outside.txt",
                                    m_directory / "Trace/CommLog9.txt");
    ASSERT_NO_FATAL_FAILURE(Serve());
    RelayThroughAgent("through the link?");

    EXPECT_EQ(m_directory.ReadFile("outside.txt"), "");
    EXPECT_EQ(m_agent.Output(), "agent: " + (m_directory / "Trace/CommLog9.txt") +
                                    " is a symbolic link; traffic is not logged into it\n");
    bool socketLogged = false;
    for (const auto& entry : std::filesystem::directory_iterator(m_directory / "Trace")) {
        socketLogged = socketLogged || entry.path().filename().string().starts_with("sock");
    }
    EXPECT_TRUE(socketLogged);
}

// A trace directory that cannot be written is told once; the agent serves.
TEST_F(AgentResourcesTest, ATraceDirectoryThatCannotBeWrittenIsToldOnce) {
    m_directory.WriteFile("Trace", "a file, not a directory");
    ASSERT_NO_FATAL_FAILURE(Serve());
    RelayThroughAgent("hello");
    EXPECT_EQ(m_agent.Output(), "agent: cannot write traffic logs in " + (m_directory / "Trace") +
                                    ": Not a directory\n");
}

// Nothing the agent holds would pass to a program it started: the serial
// port, calls, listening and accepted sockets are all close-on-exec.
TEST_F(AgentResourcesTest, EveryDescriptorIsCloseOnExec) {
    ASSERT_NO_FATAL_FAILURE(Serve());
    LoopbackListener server = ListenOnLoopback();
    const std::uint16_t port = FreeLoopbackPort();
    m_terminal->Send({Call(1, server.port), Listen(2, port), Listen(3, port)});
    EXPECT_EQ(Sync(), std::vector<std::string>{"CALL_RESULT 1 err=0"});
    TDescriptor accepted = AcceptPeer(server.socket);
    TDescriptor peer = ConnectToLoopback(port);
    ASSERT_TRUE(peer.IsOpen());
    EXPECT_EQ(m_terminal->NextPacket(), "CONNECTED 2 addr=0100007F port=0");
    EXPECT_EQ(SocketCount(m_agent.Pid()), 3);
    EXPECT_EQ(InheritableDescriptors(m_agent.Pid()), std::vector<std::string>{});
}

}  // namespace
