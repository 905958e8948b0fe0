// The agent's live capture and the capture converted from its traffic logs, read back by
// tshark with the tunnel's dissector, on runs of the real agent while pinpad-sim fetches a
// document through it. tshark runs with its home in the test's directory.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "AgentProgram.h"
#include "commlog-decode/CommLogReader.h"
#include "pinpad-sim/SimOptions.h"
#include "support/ChildProcess.h"
#include "support/Loopback.h"
#include "support/TempDir.h"
#include "support/Tshark.h"
#include "tunnel/SlipDecoder.h"

namespace {

namespace fs = std::filesystem;

using TRows = std::vector<std::vector<std::string>>;

std::string Hex(const std::string& bytes) {
    std::string hex;
    char pair[3];
    for (const unsigned char byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

// An HTTP server on 127.0.0.1 for one request: once the request's header is in, it sends a
// document of that size and closes. It keeps the request as it received it.
class TDocumentServer {
  public:
    explicit TDocumentServer(std::size_t size) : m_listener(ListenOnLoopback()) {
        std::string body(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            body[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
        }
        m_response = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                     std::to_string(size) + "\r\n\r\n" + body;
        m_thread = std::thread([this] {
            TDescriptor connection = AcceptPeer(m_listener.socket);
            m_request = ReceiveRequestHeader(connection);
            if (!m_request.empty()) {
                SendAll(connection, m_response);
            }
        });
    }
    ~TDocumentServer() { m_thread.join(); }

    std::string Url() const {
        return "http://127.0.0.1:" + std::to_string(m_listener.port) + "/doc";
    }
    std::uint16_t Port() const { return m_listener.port; }
    // Valid once the fetch has ended.
    const std::string& Request() const { return m_request; }
    const std::string& Response() const { return m_response; }

  private:
    LoopbackListener m_listener;
    std::string m_response;
    std::string m_request;
    std::thread m_thread;
};

class CaptureTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!HaveTshark()) {
            GTEST_SKIP() << "tshark is not installed (scripts/install-deps.sh installs it)";
        }
        m_directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
        m_directory.WriteFile("agent.ini", "Enabled=1\r\n");
    }

    // Starts pinpad-sim's get of url on the agent's port (through line-sim when line holds
    // its options) and the agent with arguments, once the line is there.
    void StartFetch(const std::string& url, const std::vector<std::string>& agentArguments,
                    const std::vector<std::string>& line = {}) {
        StartSimulator(url, line);
        m_agent.Start(agentArguments);
    }

    void StartSimulator(const std::string& url, const std::vector<std::string>& line = {}) {
        std::vector<std::string> sim = {ToolPath("pinpad-sim"), "--wait", "20"};
        if (line.empty()) {
            sim.insert(sim.end(), {"--pty", m_directory / "ttyS99"});
        } else {
            std::vector<std::string> argv = {ToolPath("line-sim"), "--agent-link",
                                             m_directory / "ttyS99", "--terminal-link",
                                             m_directory / "terminal"};
            argv.insert(argv.end(), line.begin(), line.end());
            m_line = std::make_unique<ChildProcess>(
                argv, ChildProcess::TOptions{.directory = "",
                                             .output = m_directory / "line-sim.out",
                                             .error = m_directory / "line-sim.out"});
            ASSERT_TRUE(WaitFor([&] { return m_directory.Exists("terminal"); }));
            sim.insert(sim.end(), {"--line", m_directory / "terminal"});
        }
        sim.insert(sim.end(), {"get", url, "-o", m_directory / "got"});
        m_sim = std::make_unique<ChildProcess>(
            sim, ChildProcess::TOptions{.directory = m_directory.Path(),
                                        .output = m_directory / "sim.out",
                                        .error = m_directory / "sim.out"});
        ASSERT_TRUE(WaitFor([&] { return m_directory.Exists("ttyS99"); }));
    }

    // Waits for the fetch, then for the agent to let go of the line, which puts down the
    // capture: the simulator's line goes with it.
    void FinishFetch(const TDocumentServer& server) {
        ASSERT_EQ(m_sim->WaitForExit(60000).value_or(-1), SIM_EXIT_OK)
            << m_directory.ReadFile("sim.out");
        m_line.reset();
        EXPECT_EQ(m_directory.ReadFile("got"),
                  server.Response().substr(server.Response().find("\r\n\r\n") + 4));
        ASSERT_TRUE(WaitFor(
            [&] {
                return m_directory.ReadFile("Trace/CommLog9.txt").find("Disconnected") !=
                       std::string::npos;
            },
            std::chrono::seconds(10)));
    }

    // Runs tshark with the dissector on the capture; returns its output.
    std::string Tshark(const std::string& capture, const std::vector<std::string>& arguments,
                       int* status = nullptr) {
        std::vector<std::string> argv = {"-r", capture};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const TTsharkRun run = RunTshark(m_directory, argv);
        if (status != nullptr) {
            *status = run.status;
        } else {
            EXPECT_EQ(run.status, 0) << run.errors;
        }
        EXPECT_EQ(run.errors.find("Lua"), std::string::npos) << run.errors;
        m_tsharkErrors = run.errors;
        return run.output;
    }

    // The fields of the packets that match filter, one row a packet; a field with several
    // occurrences has them separated by commas.
    TRows Fields(const std::string& capture, const std::string& filter,
                 const std::vector<std::string>& fields) {
        std::vector<std::string> arguments = {"-Y", filter, "-T", "fields", "-E", "occurrence=a"};
        for (const std::string& field : fields) {
            arguments.insert(arguments.end(), {"-e", field});
        }
        TRows rows;
        std::istringstream lines(Tshark(capture, arguments));
        for (std::string line; std::getline(lines, line);) {
            std::vector<std::string> row;
            std::size_t start = 0;
            for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos;
                 start = tab + 1) {
                row.push_back(line.substr(start, tab - start));
            }
            row.push_back(line.substr(start));
            rows.push_back(row);
        }
        return rows;
    }

    // Everything the tests look at, for every record of the capture.
    TRows AllFields(const std::string& capture) {
        return Fields(
            capture, "pinpad || http",
            {"pinpad.direction", "pinpad.frame.type", "pinpad.frame.seq", "pinpad.frame.len",
             "pinpad.frame.check", "pinpad.frame.check_good", "pinpad.garbage.bytes",
             "pinpad.packet.action", "pinpad.packet.socket", "pinpad.packet.address",
             "pinpad.packet.port", "pinpad.packet.error", "pinpad.packet.length",
             "pinpad.packet.data", "http.request.method", "http.response.code"});
    }

    TempDir m_directory;
    std::string m_tsharkErrors;  // of the last run
    TAgentProgram m_agent{m_directory};
    std::unique_ptr<ChildProcess> m_line;
    std::unique_ptr<ChildProcess> m_sim;
};

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        parts.push_back(part);
    }
    return parts;
}

// What a capture shows of the tunnel, from one run of tshark.
struct TDissection {
    TRows frames;                     // direction, type, number, length, check
    TRows packets;                    // direction, action, socket
    TRows calls;                      // address, port
    std::vector<std::string> errors;  // of every CALL_RESULT
    std::string dataOut;              // the data of every DATA_OUT, hex
    std::string dataIn;
    std::size_t badChecks = 0;
    std::size_t garbage = 0;
    TRows http;  // request method, response code
};

TDissection Dissect(const TRows& rows) {
    TDissection seen;
    for (const auto& row : rows) {
        if (!row[1].empty()) {
            seen.frames.push_back({row[0], row[1], row[2], row[3], row[4]});
            seen.badChecks += row[5] == "0" ? 1 : 0;
        }
        seen.garbage += row[6].empty() ? 0 : 1;
        const std::vector<std::string> actions = Split(row[7]);
        const std::vector<std::string> sockets = Split(row[8]);
        std::vector<std::string> data = Split(row[13]);
        for (std::size_t i = 0; i < actions.size(); ++i) {
            seen.packets.push_back({row[0], actions[i], sockets.at(i)});
        }
        // Data fields come in the order of their packets, one per data packet that has any.
        std::size_t nextData = 0;
        for (const std::string& action : actions) {
            if ((action == "7" || action == "8") && nextData < data.size()) {
                (action == "7" ? seen.dataIn : seen.dataOut) += data[nextData++];
            }
        }
        if (!row[9].empty()) {
            seen.calls.push_back({row[9], row[10]});
        }
        for (const std::string& error : Split(row[11])) {
            seen.errors.push_back(error);
        }
        if (!row[14].empty() || !row[15].empty()) {
            seen.http.push_back({row[14], row[15]});
        }
    }
    return seen;
}

// The frames of the agent's serial traffic log, cut by the tunnel's decoder: direction (0
// from the terminal, 1 to it), type, number, length and check, as tshark shows them.
TRows FramesOfTheLog(const std::string& log) {
    TRows frames;
    TSlipDecoder fromTerminal;
    TSlipDecoder toTerminal;
    for (const TLogEntry& entry : ReadCommLog(log).entries) {
        const bool received = entry.kind == TLogEntry::TKind::Received;
        if (!received && entry.kind != TLogEntry::TKind::Sent) {
            continue;
        }
        TSlipDecoder& decoder = received ? fromTerminal : toTerminal;
        for (unsigned long i = 0; i < entry.bytes.Length(); ++i) {
            if (!decoder.Feed(entry.bytes.GetData()[i])) {
                continue;
            }
            const T_BinaryData frame = decoder.TakeFrame();
            const unsigned char* b = frame.GetData();
            char check[8];
            char type[8];
            std::snprintf(check, sizeof check, "0x%04x", b[3 + b[2]] << 8 | b[4 + b[2]]);
            std::snprintf(type, sizeof type, "0x%02x", b[0]);
            frames.push_back(
                {received ? "0" : "1", type, std::to_string(b[1]), std::to_string(b[2]), check});
        }
    }
    return frames;
}

TEST_F(CaptureTest, ALiveCaptureShowsTheFetchLayerByLayer) {
    TDocumentServer server(3000);
    StartFetch(server.Url(), {"--capture", "line.pcapng"});
    FinishFetch(server);
    const std::string capture = m_directory / "line.pcapng";
    struct stat file {};
    ASSERT_EQ(lstat(capture.c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0777, 0640u);

    // Every frame of the line, as the traffic log has it, with its check verified.
    const TDissection live = Dissect(AllFields(capture));
    EXPECT_EQ(live.frames, FramesOfTheLog(m_directory.ReadFile("Trace/CommLog9.txt")));
    EXPECT_EQ(live.badChecks, 0u);
    EXPECT_EQ(live.garbage, 0u);

    // The tunnel packets, reassembled, with the data handed on.
    const TRows opening = {{"1", "9", "0"}, {"0", "9", "0"}, {"0", "1", "1"}, {"1", "4", "1"}};
    ASSERT_GE(live.packets.size(), opening.size() + 3);
    EXPECT_EQ(TRows(live.packets.begin(), live.packets.begin() + 4), opening);
    EXPECT_EQ(live.packets.back(), (std::vector<std::string>{"1", "5", "1"}));
    EXPECT_EQ(live.calls, (TRows{{"127.0.0.1", std::to_string(server.Port())}}));
    EXPECT_EQ(live.errors, std::vector<std::string>{"0"});
    EXPECT_EQ(live.dataOut, Hex(server.Request()));
    EXPECT_EQ(live.dataIn, Hex(server.Response()));

    // Wireshark's own HTTP dissector finds the exchange in the TCP conversation.
    EXPECT_EQ(live.http, (TRows{{"GET", ""}, {"", "200"}}));

    // Following the TCP stream gives what the peer received and sent.
    std::istringstream follow(Tshark(capture, {"-q", "-z", "follow,tcp,raw,0"}));
    std::string fromClient;
    std::string fromServer;
    for (std::string line; std::getline(follow, line);) {
        if (line.starts_with("\t")) {
            fromServer += line.substr(1);
        } else if (!line.empty() &&
                   line.find_first_not_of("0123456789abcdef") == std::string::npos) {
            fromClient += line;
        }
    }
    EXPECT_EQ(fromClient, Hex(server.Request()));
    EXPECT_EQ(fromServer, Hex(server.Response()));

    // The traffic logs of the same run convert to a capture with the same packets.
    ChildProcess decode({ToolPath("commlog-decode"), "--pcapng", m_directory / "logs.pcapng",
                         m_directory / "Trace"});
    ASSERT_EQ(decode.WaitForExit(30000), 0);
    const TDissection converted = Dissect(AllFields(m_directory / "logs.pcapng"));
    EXPECT_EQ(converted.frames, live.frames);
    EXPECT_EQ(converted.packets, live.packets);
    EXPECT_EQ(converted.calls, live.calls);
    EXPECT_EQ(converted.dataOut, live.dataOut);
    EXPECT_EQ(converted.dataIn, live.dataIn);
    EXPECT_EQ(converted.http, live.http);
}

TEST_F(CaptureTest, BitErrorsShowAsExpertInformation) {
    TDocumentServer server(20000);
    StartFetch(server.Url(), {"--capture", "line.pcapng"},
               {"--rate", "0", "--ber", "5e-4", "--seed", "3"});
    FinishFetch(server);
    const std::string capture = m_directory / "line.pcapng";
    std::map<std::string, int> experts;
    for (const auto& row : Fields(capture, "pinpad.nak || pinpad.repeat || pinpad.bad_check",
                                  {"_ws.expert.message"})) {
        for (const char* kind : {"NAK", "Repeat", "Wrong check"}) {
            experts[kind] += row[0].find(kind) != std::string::npos ? 1 : 0;
        }
    }
    EXPECT_GT(experts["NAK"], 0);
    EXPECT_GT(experts["Repeat"], 0);
    EXPECT_GT(experts["Wrong check"], 0);
    // The packets are whole all the same: the document arrived.
    EXPECT_EQ(Dissect(AllFields(capture)).dataIn, Hex(server.Response()));
}

TEST_F(CaptureTest, ARingNeverGrowsPastItsBound) {
    TDocumentServer server(100000);
    StartFetch(server.Url(),
               {"--capture", "ring.pcapng", "--capture-size", "0.0625", "--capture-files", "2"});
    FinishFetch(server);
    std::map<std::string, std::uintmax_t> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_directory.Path())) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("ring")) {
            files[name] = entry.file_size();
        }
    }
    ASSERT_EQ(files.size(), 2u);
    EXPECT_GT(files.begin()->first, "ring_00002.pcapng") << "the ring never turned";
    for (const auto& [name, size] : files) {
        EXPECT_LE(size, 65536u) << name;
        EXPECT_FALSE(Fields(m_directory / name, "pinpad", {"pinpad.direction"}).empty()) << name;
    }
}

TEST_F(CaptureTest, ACaptureCutShortByAKilledAgentStillOpens) {
    TDocumentServer server(300000);
    StartFetch(server.Url(), {"--capture", "line.pcapng"});
    const std::string capture = m_directory / "line.pcapng";
    ASSERT_TRUE(WaitFor([&] { return fs::exists(capture) && fs::file_size(capture) > 100000; },
                        std::chrono::seconds(30)));
    kill(m_agent.Pid(), SIGKILL);
    kill(m_sim->Pid(), SIGKILL);  // its get would wait for the dead agent
    m_sim.reset();
    int status = 0;
    const std::string listed = Tshark(capture, {}, &status);
    EXPECT_TRUE(status == 0 ||
                m_directory.ReadFile("tshark.err").find("cut short") != std::string::npos)
        << m_directory.ReadFile("tshark.err");
    EXPECT_GT(std::count(listed.begin(), listed.end(), '\n'), 100);
}

// A live view on standard output that goes away stops the capture, told once; the agent keeps
// serving.
TEST_F(CaptureTest, AReaderThatGoesAwayStopsOnlyTheCapture) {
    const std::string fifo = m_directory / "view";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    TDescriptor view(open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(view);
    TDocumentServer server(20000);
    StartSimulator(server.Url());
    ChildProcess agent(
        {m_directory / "agent", "--capture", "-"},
        ChildProcess::TOptions{
            .directory = m_directory.Path(), .output = fifo, .error = m_directory / "agent.err"});
    // The section header comes first, then the view closes.
    std::string start;
    ASSERT_TRUE(WaitFor([&] {
        char bytes[4];
        const ssize_t got = read(view.Get(), bytes, sizeof bytes - start.size());
        start.append(bytes, got > 0 ? static_cast<std::size_t>(got) : 0);
        return start.size() == 4;
    }));
    EXPECT_EQ(start, std::string("\x0A\x0D\x0D\x0A", 4));
    view.Reset();
    FinishFetch(server);
    EXPECT_EQ(m_directory.ReadFile("agent.err"),
              "agent: capture stopped: standard output: Broken pipe\n");
}

TEST_F(CaptureTest, AnExistingFileOrLinkIsNeverWritten) {
    m_directory.WriteFile("taken.pcapng", "keep");
    fs::create_symlink(m_directory / "elsewhere", m_directory / "link.pcapng");
    for (const char* name : {"taken.pcapng", "link.pcapng"}) {
        SCOPED_TRACE(name);
        m_agent.Start({"--capture", name});
        EXPECT_EQ(m_agent.WaitForExit(std::chrono::seconds(10)), 2);
        EXPECT_EQ(m_agent.Output(),
                  std::string("agent: cannot capture into ") + name + ": File exists\n");
    }
    EXPECT_EQ(m_directory.ReadFile("taken.pcapng"), "keep");
    EXPECT_FALSE(m_directory.Exists("elsewhere"));
}

}  // namespace
