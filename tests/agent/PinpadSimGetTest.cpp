// pinpad-sim get through the real agent: where the body goes for each kind
// of -o path, what its errors say, and how a signal ends it. Every path lies
// in the test's temporary directory; the HTTP servers listen on loopback.

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AgentProgram.h"
#include "pinpad-sim/SimOptions.h"
#include "support/ChildProcess.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// An HTTP server on 127.0.0.1 for one request, on a thread of its own. It
// sends answer once the request's header is in, or, with an empty answer,
// holds the connection without a word until the client goes. With a rest,
// it sends that once released (or after ten seconds).
class THttpPeer {
  public:
    explicit THttpPeer(std::string answer, std::string rest = "")
        : m_listener(ListenOnLoopback()), m_thread([this, answer, rest] {
              TDescriptor connection = AcceptPeer(m_listener.socket);
              if (ReceiveRequestHeader(connection).empty()) {
                  return;
              }
              m_requested = true;
              if (!answer.empty()) {
                  SendAll(connection, answer);
                  if (!rest.empty()) {
                      m_releasedInTime =
                          WaitFor([this] { return m_released.load(); }, std::chrono::seconds(10));
                      SendAll(connection, rest);
                  }
                  return;
              }
              // Until the client closes, or five quiet seconds have passed.
              ReceiveExactly(connection, 1);
          }) {}
    ~THttpPeer() { m_thread.join(); }

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_listener.port) + "/x"; }
    bool Requested() const { return m_requested; }
    void Release() { m_released = true; }
    // Whether Release came before the rest had to go anyway.
    bool ReleasedInTime() const { return m_releasedInTime; }

  private:
    LoopbackListener m_listener;
    std::atomic<bool> m_requested = false;
    std::atomic<bool> m_released = false;
    std::atomic<bool> m_releasedInTime = false;
    std::thread m_thread;
};

std::string Ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class PinpadSimGetTest : public testing::Test {
  protected:
    // Starts the simulator on the pseudo-terminal "ttyS99" of the directory
    // and, with an agent, the agent on it once the link is there.
    void Start(const std::vector<std::string>& arguments, bool withAgent) {
        std::vector<std::string> argv = {ToolPath("pinpad-sim"), "--pty", m_directory / "ttyS99",
                                         "--wait", "10"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        m_directory.WriteFile("input", "");
        m_sim = std::make_unique<ChildProcess>(
            argv, ChildProcess::TOptions{.directory = m_directory.Path(),
                                         .input = m_directory / "input",
                                         .output = m_directory / "output",
                                         .error = m_directory / "error"});
        ASSERT_TRUE(WaitFor([&] { return m_directory.Exists("ttyS99"); }));
        if (withAgent) {
            m_directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
            m_directory.WriteFile("agent.ini", "Enabled=1\r\n");
            m_agent.Start();
        }
    }

    // The exit status; -1 when the simulator is still running after limit.
    int Status(int limitMs = 30000) { return m_sim->WaitForExit(limitMs).value_or(-1); }
    std::string Error() const { return m_directory.ReadFile("error"); }

    // The agent's logs of its TCP connections, one after the other.
    std::string SocketLogs() const {
        std::string logs;
        const fs::path trace = m_directory / "Trace";
        if (fs::is_directory(trace)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(trace)) {
                if (entry.path().filename().string().starts_with("sock")) {
                    logs += m_directory.ReadFile(fs::relative(entry.path(), m_directory.Path()));
                }
            }
        }
        return logs;
    }

    // The names in the directory that are neither the test's nor the agent's.
    std::vector<std::string> LeftBehind() const {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(m_directory.Path())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with(".")) {
                names.push_back(name);
            }
        }
        return names;
    }

    TempDir m_directory;
    TAgentProgram m_agent{m_directory};
    std::unique_ptr<ChildProcess> m_sim;
};

TEST_F(PinpadSimGetTest, ARegularFileIsReplacedAndALinksTargetWritten) {
    THttpPeer first(Ok("first body"));
    m_directory.WriteFile("old", "old body");
    fs::create_symlink("old", m_directory / "link");
    Start({"-o", "link", "get", first.Url()}, true);
    EXPECT_EQ(Status(), SIM_EXIT_OK) << Error();
    EXPECT_TRUE(fs::is_symlink(m_directory / "link")) << "the link was replaced";
    EXPECT_EQ(m_directory.ReadFile("old"), "first body");
    EXPECT_EQ(LeftBehind(), std::vector<std::string>{});
}

TEST_F(PinpadSimGetTest, AFifoIsWrittenInPlace) {
    THttpPeer server(Ok("through the fifo"));
    const std::string fifo = m_directory / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] {
        std::ifstream in(fifo, std::ios::binary);
        received.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    });
    Start({"-o", "fifo", "get", server.Url()}, true);
    const int status = Status();
    reader.join();
    EXPECT_EQ(status, SIM_EXIT_OK) << Error();
    EXPECT_EQ(received, "through the fifo");
    struct stat kind {};
    ASSERT_EQ(lstat(fifo.c_str(), &kind), 0);
    EXPECT_TRUE(S_ISFIFO(kind.st_mode)) << "the FIFO was replaced";
}

// The body goes to the output as it arrives: the first half of a document
// is out before the server has sent the second, so no document is held in
// memory whole.
TEST_F(PinpadSimGetTest, TheBodyIsStreamedToTheOutput) {
    const std::string half(64 * 1024, 'h');
    THttpPeer server(
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(2 * half.size()) + "\r\n\r\n" + half,
        half);
    const std::string fifo = m_directory / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] {
        std::ifstream in(fifo, std::ios::binary);
        received.resize(half.size());
        in.read(received.data(), static_cast<std::streamsize>(half.size()));
        server.Release();
        received.resize(static_cast<std::size_t>(in.gcount()));
        received.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    });
    Start({"-o", "fifo", "get", server.Url()}, true);
    const int status = Status();
    server.Release();
    reader.join();
    EXPECT_EQ(status, SIM_EXIT_OK) << Error();
    EXPECT_TRUE(server.ReleasedInTime()) << "the first half came out only with the second";
    EXPECT_EQ(received, half + half);
}

TEST_F(PinpadSimGetTest, FailuresSayWhatHappenedWithTheCode) {
    THttpPeer missing("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    m_directory.WriteFile("body", "kept");
    Start({"-o", "body", "get", missing.Url()}, true);
    EXPECT_EQ(Status(), SIM_EXIT_HTTP_FAILED);
    EXPECT_EQ(Error(),
              "pinpad-sim: get " + missing.Url() + " failed: HTTP 404 Not Found (27007)\n");
    EXPECT_EQ(m_directory.ReadFile("body"), "kept");
    EXPECT_EQ(LeftBehind(), std::vector<std::string>{});
}

TEST_F(PinpadSimGetTest, AConnectionNobodyTakesIsNamed) {
    const std::string url = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/x";
    Start({"get", url}, true);
    EXPECT_EQ(Status(), SIM_EXIT_HTTP_FAILED);
    EXPECT_EQ(Error(), "pinpad-sim: get " + url +
                           " failed: no connection to the server: refused, unreachable or "
                           "unanswered (20027)\n");
}

// A signal ends the simulator at once with the shell's status for it: while
// it waits for an agent, while a get waits for its answer, and while it waits
// for the rest of a body that stopped coming; the old file stays untouched
// and nothing is left beside it.
TEST_F(PinpadSimGetTest, ASignalEndsAnySubcommandAtOnce) {
    enum class TStage { WaitingForAgent, WaitingForAnswer, WaitingForBody };
    struct TCase {
        int signal;
        TStage stage;
        int status;
    };
    const TCase cases[] = {
        {SIGINT, TStage::WaitingForAgent, 130},
        {SIGTERM, TStage::WaitingForAgent, 143},
        {SIGINT, TStage::WaitingForAnswer, 130},
        {SIGTERM, TStage::WaitingForBody, 143},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.signal) + " at stage " +
                     std::to_string(static_cast<int>(c.stage)));
        // Silent, or a first part of the body and the rest only after ten seconds.
        std::optional<THttpPeer> server;
        std::string url = "http://127.0.0.1:1/x";
        if (c.stage == TStage::WaitingForAnswer) {
            url = server.emplace("").Url();
        } else if (c.stage == TStage::WaitingForBody) {
            url = server.emplace("HTTP/1.1 200 OK\r\nContent-Length: 16\r\n\r\nBODYPART", "REST")
                      .Url();
        }
        m_directory.WriteFile("body", "kept");
        Start({"-o", "body", "get", url}, c.stage != TStage::WaitingForAgent);
        if (server) {
            ASSERT_TRUE(WaitFor([&] { return server->Requested(); }, std::chrono::seconds(20)));
        }
        if (c.stage == TStage::WaitingForBody) {
            // The agent has taken the first part from the server.
            ASSERT_TRUE(WaitFor([&] { return SocketLogs().find("BODYPART") != std::string::npos; },
                                std::chrono::seconds(20)));
        }
        kill(m_sim->Pid(), c.signal);
        // Well before the 10 s of --wait and the 15 s an answer may take.
        EXPECT_EQ(Status(5000), c.status);
        EXPECT_EQ(Error(), "");
        EXPECT_EQ(m_directory.ReadFile("body"), "kept");
        EXPECT_EQ(LeftBehind(), std::vector<std::string>{});
        EXPECT_FALSE(m_directory.Exists("ttyS99")) << "the link outlived the simulator";
        m_sim.reset();
        m_agent.Stop();
        if (server) {
            server->Release();
        }
    }
}

}  // namespace
