// The terminal-file-server program, run as it is installed, with curl as
// the terminal.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

using ::testing::StartsWith;

std::string ServerPath() {
    return ToolPath("terminal-file-server");
}

class TerminalFileServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(m_root / "served/sub");
        m_root.WriteFile("secret", "outside the served directory");
        m_root.WriteFile("served/sub/inner.txt", "in a subdirectory");
        ASSERT_TRUE(std::filesystem::exists(ServerPath())) << ServerPath() << " has not been built";
    }

    // Starts the server and waits until it serves.
    void StartServer() {
        m_server = std::make_unique<ChildProcess>(std::vector<std::string>{
            ServerPath(), "--dir", m_root / "served", "--port", std::to_string(m_port)});
        ASSERT_THAT(m_server->ReadLine(), StartsWith("Serving "));
    }

    // Runs curl as terminal T1 to the end; returns its status code, with the
    // header and the body of the reply in the files "head" and "body".
    std::string Curl(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"curl",        "--silent",
                                         "--noproxy",   "*",
                                         "--max-time",  "10",
                                         "-A",          "T1",
                                         "-D",          m_root / "head",
                                         "-o",          m_root / "body",
                                         "--write-out", "%{http_code}\\n"};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess curl(argv);
        return curl.ReadLine();
    }

    std::string Get(const std::string& fileName) {
        return Curl({"http://127.0.0.1:" + std::to_string(m_port) + "/get?name=" + fileName +
                     "&terminalSN=123456"});
    }

    std::string Post(const std::string& bodyFile) {
        return Curl({"-H", "Expect:", "--data-binary", "@" + bodyFile,
                     "http://127.0.0.1:" + std::to_string(m_port) + "/post"});
    }

    TempDir m_root;
    std::uint16_t m_port = FreeLoopbackPort();
    std::unique_ptr<ChildProcess> m_server;
};

TEST_F(TerminalFileServerTest, GetAnswersTheContentsOfTheNamedFile) {
    std::string contents;
    for (int i = 0; i < 10000; ++i) {
        contents += static_cast<char>(i % 251);
    }
    m_root.WriteFile("served/data.bin", contents);
    StartServer();

    EXPECT_EQ(Get("data.bin"), "200");
    EXPECT_EQ(m_root.ReadFile("body"), contents);
    EXPECT_EQ(m_server->ReadLine(), "GET data.bin from T1 (serial 123456): 10000 bytes");
}

TEST_F(TerminalFileServerTest, NamesThatLeaveTheDirectoryOrNameNoFileAreRefused) {
    struct {
        const char* name;
        const char* reason;
    } const cases[] = {
        {"../secret", "Invalid file name"},
        {"..", "Invalid file name"},
        {".", "Invalid file name"},
        {"sub/inner.txt", "Invalid file name"},
        {"/etc/hostname", "Invalid file name"},
        {"%2e%2e%2fsecret", "File not found"},  // names are taken as they stand
        {"missing.txt", "File not found"},
        {"sub", "File not found"},
    };
    StartServer();
    for (const auto& c : cases) {
        EXPECT_EQ(Get(c.name), "500") << c.name;
        EXPECT_EQ(m_root.ReadFile("head"), "HTTP/1.1 500 " + std::string(c.reason) + "\r\n\r\n")
            << c.name;
        EXPECT_EQ(m_root.ReadFile("body"), "") << c.name;
    }
}

TEST_F(TerminalFileServerTest, PostBodiesAreStoredAsNumberedFiles) {
    std::filesystem::create_directories(m_root / "served/posted");
    m_root.WriteFile("served/posted/00000001.bin", "from an earlier run");
    m_root.WriteFile("first", "first body");
    m_root.WriteFile("second", std::string("\x00\xff\r\n", 4));
    StartServer();

    EXPECT_EQ(Post(m_root / "first"), "200");
    EXPECT_EQ(m_root.ReadFile("body"), "OK");
    EXPECT_EQ(Post(m_root / "second"), "200");

    EXPECT_EQ(m_root.ReadFile("served/posted/00000001.bin"), "from an earlier run");
    EXPECT_EQ(m_root.ReadFile("served/posted/00000002.bin"), "first body");
    EXPECT_EQ(m_root.ReadFile("served/posted/00000003.bin"), std::string("\x00\xff\r\n", 4));
    EXPECT_EQ(m_server->ReadLine(), "POST from T1: 10 bytes stored as 00000002.bin");
}

TEST_F(TerminalFileServerTest, BadCommandLinesAreRefused) {
    LoopbackListener busy = ListenOnLoopback();
    const std::string dir = m_root / "served";
    struct {
        std::string arguments;
        int status;
    } const cases[] = {
        {"", 2},
        {"--dir " + dir, 2},
        {"--port 8080", 2},
        {"--dir " + dir + " --port 0", 2},
        {"--dir " + dir + " --port 65536", 2},
        {"--dir " + dir + " --port 80a", 2},
        {"--dir " + dir + " --port", 2},
        {"--dir " + (m_root / "missing") + " --port 8080", 2},
        {"--dir " + (m_root / "secret") + " --port 8080", 2},
        {"--dir " + dir + " --port " + std::to_string(busy.port), 1},
    };
    for (const auto& c : cases) {
        const int status = std::system((ServerPath() + " " + c.arguments + " 2>/dev/null").c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.arguments;
        EXPECT_EQ(WEXITSTATUS(status), c.status) << c.arguments;
    }
}

}  // namespace
