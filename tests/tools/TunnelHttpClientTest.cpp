// pinpad-sim get: our HTTP client on the terminal's end of a pseudo-terminal,
// the real agent program on the other end, a file server on 127.0.0.1.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExchangeLimitMs = 60000;

class SimGetTest : public testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(ToolPath("agent"), agentHome / "agent");
        agentHome.WriteFile("pinpad.ini", "ComPort=9\r\n");
        agentHome.WriteFile("agent.ini", "Enabled=1\r\n");

        fileServer = std::make_unique<ChildProcess>(
            std::vector<std::string>{"python3", "-u", "-m", "http.server", "0", "--bind",
                                     "127.0.0.1", "--directory", served.Path()});
        // "Serving HTTP on 127.0.0.1 port N (http://127.0.0.1:N/) ..."
        const std::string banner = fileServer->ReadLine();
        const std::size_t at = banner.find(" port ");
        ASSERT_NE(at, std::string::npos) << "the file server did not start: " << banner;
        port = banner.substr(at + 6, banner.find(' ', at + 6) - at - 6);
    }

    // Runs pinpad-sim get with these arguments after the URL, then the agent
    // on the pseudo-terminal it makes; the simulator's exit status.
    std::optional<int> RunGet(const std::string& document, const std::vector<std::string>& more) {
        // The programs of an earlier run, and their link, go first.
        agent.reset();
        sim.reset();
        fs::remove(agentHome / "ttyS99");
        std::vector<std::string> argv{ToolPath("pinpad-sim"),
                                      "--pty",
                                      agentHome / "ttyS99",
                                      "--wait",
                                      "20",
                                      "get",
                                      "http://127.0.0.1:" + port + "/" + document};
        argv.insert(argv.end(), more.begin(), more.end());
        sim = std::make_unique<ChildProcess>(argv);
        for (int i = 0; i < 1000 && !fs::is_symlink(agentHome / "ttyS99"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ChildProcess::TOptions inAgentHome;
        inAgentHome.directory = agentHome.Path();
        agent = std::make_unique<ChildProcess>(std::vector<std::string>{"./agent"}, inAgentHome);
        return sim->WaitForExit(kExchangeLimitMs);
    }

    // A server that answers every request with `response` and closes; the
    // requests go to it from then on.
    void AnswerWith(const std::string& response, TempDir& logs,
                    std::unique_ptr<ChildProcess>& server) {
        const fs::path script = fs::path(__FILE__).parent_path() / "../http/canned_http_server.py";
        server = std::make_unique<ChildProcess>(
            std::vector<std::string>{"python3", script.string(), logs.Path(), response});
        port = server->ReadLine();
    }

    TempDir agentHome;
    TempDir served;
    TempDir received;
    std::string port;
    std::unique_ptr<ChildProcess> fileServer;
    std::unique_ptr<ChildProcess> sim;
    std::unique_ptr<ChildProcess> agent;
};

TEST_F(SimGetTest, FetchesAFileThroughTheAgent) {
    std::string content;
    for (int i = 0; i < 64 * 1024; ++i) {
        content += static_cast<char>(i * 31 % 253);
    }
    served.WriteFile("data.bin", content);

    EXPECT_EQ(RunGet("data.bin", {"-o", received / "copy.bin"}), 0);
    EXPECT_EQ(received.ReadFile("copy.bin"), content);
}

TEST_F(SimGetTest, EmptyDocumentLeavesAnEmptyFile) {
    served.WriteFile("empty.bin", "");
    received.WriteFile("copy.bin", "older content");

    EXPECT_EQ(RunGet("empty.bin", {"-o", received / "copy.bin"}), 0);
    ASSERT_TRUE(received.Exists("copy.bin"));
    EXPECT_EQ(received.ReadFile("copy.bin"), "");
}

TEST_F(SimGetTest, WritesTheBodyToStandardOutputWithoutOutputFile) {
    served.WriteFile("hello.txt", "hello through the tunnel\n");

    EXPECT_EQ(RunGet("hello.txt", {}), 0);
    EXPECT_EQ(sim->ReadLine(), "hello through the tunnel");
}

TEST_F(SimGetTest, MissingDocumentFailsTheCommand) {
    EXPECT_EQ(RunGet("missing.bin", {"-o", received / "copy.bin"}), 6);
    EXPECT_FALSE(received.Exists("copy.bin"));
}

// The command succeeds only when the file (or the output) is exactly the
// body: an answer whose body runs until the connection closes could be cut
// short without anyone noticing.
TEST_F(SimGetTest, AnswerThatDoesNotFrameItsBodyFailsTheCommand) {
    struct {
        const char* label;
        std::string response;
        int status;
    } const cases[] = {
        {"no length", "HTTP/1.1 200 OK\r\nServer: canned\r\n\r\nthe body", 6},
        {"length in lower case", "HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\nhello", 0},
    };
    for (const auto& c : cases) {
        TempDir logs;
        std::unique_ptr<ChildProcess> server;
        AnswerWith(c.response, logs, server);
        received.WriteFile("copy.bin", "older content");
        EXPECT_EQ(RunGet("doc", {"-o", received / "copy.bin"}), c.status) << c.label;
        EXPECT_EQ(received.ReadFile("copy.bin"), c.status == 0 ? "hello" : "older content")
            << c.label;
        EXPECT_EQ(RunGet("doc", {}), c.status) << c.label << ", to standard output";
    }
}

}  // namespace
