// The terminal-file-server program, run as it is installed (from a copy in
// the test's directory, so that its traffic logs stay there), with curl and
// sockets as the terminals.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

using ::testing::StartsWith;

namespace fs = std::filesystem;

// The resident set of a process in kilobytes, from /proc.
long ResidentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// Everything the server sends on a connection until it closes it (or a
// second passes without a byte).
std::string ReceiveUntilClosed(const TDescriptor& socket) {
    std::string received;
    pollfd entry{socket.Get(), POLLIN, 0};
    char block[4096];
    while (poll(&entry, 1, 1000) > 0) {
        const ssize_t count = recv(socket.Get(), block, sizeof block, 0);
        if (count <= 0) {
            break;
        }
        received.append(block, static_cast<std::size_t>(count));
    }
    return received;
}

// The first line of a reply, without its line end.
std::string StatusLine(const std::string& reply) {
    return reply.substr(0, reply.find("\r\n"));
}

// A server built with the sanitizers has a memory of another size and takes
// its time: the figures that bound memory and time mean something only
// without them.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kWithoutSanitizers = false;
#else
constexpr bool kWithoutSanitizers = true;
#endif

class TerminalFileServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(m_root / "served/sub");
        fs::create_directories(m_root / "bin");
        m_root.WriteFile("secret", "outside the served directory");
        m_root.WriteFile("served/sub/inner.txt", "in a subdirectory");
        ASSERT_TRUE(fs::exists(ToolPath("terminal-file-server")))
            << ToolPath("terminal-file-server") << " has not been built";
        fs::copy_file(ToolPath("terminal-file-server"), ServerPath());
    }

    std::string ServerPath() const { return m_root / "bin/terminal-file-server"; }

    // Starts the server and waits until it serves.
    void StartServer(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv = {ServerPath(), "--dir", m_root / "served", "--port",
                                         std::to_string(m_port)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        m_server = std::make_unique<ChildProcess>(argv);
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

    std::string Url(const std::string& target, const std::string& host = "127.0.0.1") const {
        return "http://" + host + ":" + std::to_string(m_port) + target;
    }

    std::string Get(const std::string& fileName) {
        return Curl({Url("/get?name=" + fileName + "&terminalSN=123456")});
    }

    std::string Post(const std::string& bodyFile) {
        return Curl({"-H", "Expect:", "--data-binary", "@" + bodyFile, Url("/post")});
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
        {"%2e%2e%2fsecret", "Invalid file name"},  // decoded before it is checked
        {"sub%2Finner.txt", "Invalid file name"},
        {"data.bin%00.txt", "Invalid file name"},
        {"bad%zz", "Invalid file name"},
        {"bad%2", "Invalid file name"},
        {"missing.txt", "File not found"},
        {"sub", "File not found"},
    };
    StartServer();
    for (const auto& c : cases) {
        EXPECT_EQ(Get(c.name), "500") << c.name;
        EXPECT_EQ(m_root.ReadFile("head"),
                  "HTTP/1.1 500 " + std::string(c.reason) + "\r\nContent-Length: 0\r\n\r\n")
            << c.name;
        EXPECT_EQ(m_root.ReadFile("body"), "") << c.name;
    }
}

TEST_F(TerminalFileServerTest, NamesArePercentDecoded) {
    m_root.WriteFile("served/a b+c.txt", "spaced");
    StartServer();
    EXPECT_EQ(Get("a%20b+c%2Etxt"), "200");
    EXPECT_EQ(m_root.ReadFile("body"), "spaced");
    EXPECT_EQ(m_server->ReadLine(), "GET a%20b+c%2Etxt from T1 (serial 123456): 6 bytes");
}

// Nothing is read or written through a symbolic link planted in the
// directory, wherever it points.
TEST_F(TerminalFileServerTest, SymbolicLinksAreNeitherReadNorWrittenThrough) {
    m_root.WriteFile("served/data.bin", "inside");
    fs::create_symlink(m_root / "secret", m_root / "served/outside");
    fs::create_symlink("data.bin", m_root / "served/inside");
    fs::create_directories(m_root / "served/posted");
    m_root.WriteFile("target", "must stay");
    fs::create_symlink(m_root / "target", m_root / "served/posted/00000001.bin");
    m_root.WriteFile("upload", "uploaded");
    StartServer();

    for (const char* link : {"outside", "inside"}) {
        EXPECT_EQ(Get(link), "500") << link;
        EXPECT_EQ(m_root.ReadFile("body"), "") << link;
    }
    EXPECT_EQ(Post(m_root / "upload"), "200");
    EXPECT_EQ(m_root.ReadFile("target"), "must stay");
    EXPECT_EQ(m_root.ReadFile("served/posted/00000002.bin"), "uploaded");
    EXPECT_EQ(m_root.ReadFile("secret"), "outside the served directory");
}

TEST_F(TerminalFileServerTest, UploadsDirectoryThatIsALinkStoresNothing) {
    fs::create_directories(m_root / "elsewhere");
    fs::create_directory_symlink(m_root / "elsewhere", m_root / "served/posted");
    m_root.WriteFile("upload", "uploaded");
    StartServer();

    EXPECT_EQ(Post(m_root / "upload"), "500");
    EXPECT_EQ(m_root.ReadFile("head"),
              "HTTP/1.1 500 Cannot store the data\r\nContent-Length: 0\r\n\r\n");
    EXPECT_TRUE(fs::is_empty(m_root / "elsewhere"));
}

// Requests the HTTP server refuses itself are logged too, and their replies
// end where their length says.
TEST_F(TerminalFileServerTest, EveryRequestIsLogged) {
    StartServer();
    EXPECT_EQ(Curl({"--http1.0", Url("/get?name=a&terminalSN=1")}), "500");
    EXPECT_EQ(m_server->ReadLine(), "Refused a request: Invalid request type");
    EXPECT_EQ(Curl({Url("/get?name=a")}), "500");
    EXPECT_EQ(m_server->ReadLine(),
              "Refused a request: No file name or serial number in GET request");
}

// By default only this machine can reach the server.
TEST_F(TerminalFileServerTest, ListensOnTheChosenAddressOnly) {
    m_root.WriteFile("served/data.bin", "data");
    struct {
        std::vector<std::string> options;
        const char* reachable;
        const char* unreachable;
    } const cases[] = {
        {{}, "127.0.0.1", "127.0.0.2"},
        {{"--bind", "127.0.0.2"}, "127.0.0.2", "127.0.0.1"},
    };
    for (const auto& c : cases) {
        StartServer(c.options);
        EXPECT_EQ(Curl({Url("/get?name=data.bin&terminalSN=1", c.reachable)}), "200")
            << c.reachable;
        EXPECT_EQ(Curl({Url("/get?name=data.bin&terminalSN=1", c.unreachable)}), "000")
            << c.unreachable;
        m_server.reset();
    }
}

// A client that asks for a large file and never reads holds up no one, and
// the file is not held in memory.
TEST_F(TerminalFileServerTest, ALargeFileGoesOutAsItIsTakenWhileOthersAreServed) {
    constexpr std::size_t kSize = 50 * 1024 * 1024;
    {
        std::ofstream big(m_root / "served/big.bin", std::ios::binary);
        const std::string block(1024 * 1024, 'B');
        for (std::size_t written = 0; written < kSize; written += block.size()) {
            big << block;
        }
    }
    m_root.WriteFile("served/small.txt", "small");
    StartServer();
    const long before = ResidentKilobytes(m_server->Pid());

    TDescriptor stalled = ConnectToLoopback(m_port);
    ASSERT_TRUE(stalled.IsOpen());
    ASSERT_TRUE(
        SendAll(stalled, "GET /get?name=big.bin&terminalSN=1 HTTP/1.1\r\nUser-Agent: T9\r\n\r\n"));
    EXPECT_EQ(m_server->ReadLine(), "GET big.bin from T9 (serial 1): 52428800 bytes");

    EXPECT_EQ(Get("small.txt"), "200");
    EXPECT_EQ(m_root.ReadFile("body"), "small");
    EXPECT_EQ(m_server->ReadLine(), "GET small.txt from T1 (serial 123456): 5 bytes");

    const long during = ResidentKilobytes(m_server->Pid());
    std::cout << "[ FIGURE   ] server RSS " << before << " kB idle, " << during
              << " kB while a 50 MB file waits for a client that does not read\n";
    EXPECT_LT(during, before + 20 * 1024) << "the file is not loaded whole";

    // The rest of the file still comes whole to a client that reads on.
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 52428800\r\n\r\n";
    EXPECT_EQ(ReceiveExactly(stalled, head.size()), head);
    std::size_t received = 0;
    char buffer[65536];
    for (ssize_t n; received < kSize && (n = recv(stalled.Get(), buffer, sizeof buffer, 0)) > 0;) {
        received += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(received, kSize);
}

// Under a low descriptor limit, a new client finds room: the connection
// that has waited longest without a request is closed for it, and an
// existing file is never answered as missing.
TEST_F(TerminalFileServerTest, ANewClientFindsRoomUnderALowDescriptorLimit) {
    m_root.WriteFile("served/data.bin", "data");
    m_server = std::make_unique<ChildProcess>(
        std::vector<std::string>{"sh", "-c", "ulimit -n 40 && exec \"$0\" \"$@\"", ServerPath(),
                                 "--dir", m_root / "served", "--port", std::to_string(m_port)});
    ASSERT_THAT(m_server->ReadLine(), StartsWith("Serving "));

    std::vector<TDescriptor> idle;
    for (int i = 0; i < 37; ++i) {
        idle.push_back(ConnectToLoopback(m_port));
        ASSERT_TRUE(idle.back().IsOpen());
    }
    EXPECT_EQ(Get("data.bin"), "200");
    EXPECT_EQ(m_root.ReadFile("body"), "data");
}

// Each connection's traffic log is trimmed instead of growing with every
// byte served.
TEST_F(TerminalFileServerTest, TrafficLogsStayBounded) {
    std::string contents(4 * 1024 * 1024, 'x');
    m_root.WriteFile("served/data.bin", contents);
    StartServer();
    EXPECT_EQ(Get("data.bin"), "200");
    EXPECT_EQ(m_root.ReadFile("body").size(), contents.size());
    m_server.reset();

    std::uintmax_t largest = 0;
    for (const auto& entry : fs::directory_iterator(m_root / "bin/Trace")) {
        largest = std::max(largest, fs::file_size(entry.path()));
    }
    std::cout << "[ FIGURE   ] largest traffic log after a 4 MiB download: " << largest
              << " bytes\n";
    EXPECT_GT(largest, 0u);
    EXPECT_LT(largest, 2u * 1024 * 1024);
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

// A server that cannot start makes nothing: no uploads directory, no traffic logs.
TEST_F(TerminalFileServerTest, APortInUseEndsItWithStatusOneAndNothingMade) {
    const LoopbackListener taken = ListenOnLoopback();
    ChildProcess server({ServerPath(), "--dir", m_root / "served", "--port",
                         std::to_string(taken.port)},
                        ChildProcess::TOptions{.directory = "",
                                               .output = m_root / "out",
                                               .error = m_root / "out"});
    EXPECT_EQ(server.WaitForExit(10000), std::optional<int>(1));
    EXPECT_EQ(m_root.ReadFile("out"), "terminal-file-server: cannot listen on 127.0.0.1:" +
                                          std::to_string(taken.port) +
                                          ": Address already in use\n");
    EXPECT_FALSE(m_root.Exists("served/posted"));
    EXPECT_FALSE(m_root.Exists("bin/Trace"));
}

// Interrupted or terminated, the server ends as its usage says: status 0.
TEST_F(TerminalFileServerTest, StopSignalsEndItWithStatusZero) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        StartServer();
        ASSERT_EQ(kill(m_server->Pid(), signal), 0);
        EXPECT_EQ(m_server->WaitForExit(10000), std::optional<int>(0));
        m_server.reset();
    }
}

// Its command line is tried with the other tools' (tests/tools).

}  // namespace

namespace {

// A thousand slow connections from one address, each having sent one byte
// of a request, lock no one out: the server closes the one that has waited
// longest for each newcomer, and another client is answered within a second.
TEST_F(TerminalFileServerTest, SlowClientsLockNoOneOut) {
    constexpr int kSlowClients = 1000;
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_cur < kSlowClients + 100) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, kSlowClients + 100);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    ASSERT_GE(limit.rlim_cur, static_cast<rlim_t>(kSlowClients + 100)) << "too few descriptors";
    m_root.WriteFile("served/data.bin", "data");
    StartServer();
    std::vector<TDescriptor> slow;
    for (int i = 0; i < kSlowClients; ++i) {
        slow.push_back(ConnectToLoopback(m_port));
        ASSERT_TRUE(slow.back().IsOpen()) << "connection " << i;
        send(slow.back().Get(), "G", 1, MSG_NOSIGNAL);
    }
    EXPECT_EQ(Curl({"--max-time", kWithoutSanitizers ? "1" : "5",
                    Url("/get?name=data.bin&terminalSN=1")}),
              "200");
    EXPECT_EQ(m_root.ReadFile("body"), "data");
}

// Unfinished uploads are streamed to files of their own as they arrive, so
// the server's memory stays small whatever they add up to, and an upload
// that never ends leaves nothing behind once its client has gone.
TEST_F(TerminalFileServerTest, UploadsGoToTheirFilesAsTheyArrive) {
    constexpr int kClients = 16;
    constexpr std::size_t kSent = 5 * 1024 * 1024;
    StartServer();
    const auto hiddenBytes = [&] {
        std::uintmax_t total = 0;
        for (const auto& entry : fs::directory_iterator(m_root / "served/posted")) {
            std::error_code gone;  // an upload may end while it is looked at
            const std::uintmax_t size = entry.file_size(gone);
            if (entry.path().filename().string().starts_with(".upload-") && !gone) {
                total += size;
            }
        }
        return total;
    };
    const std::string head =
        "POST /post HTTP/1.1\r\nUser-Agent: T1\r\nContent-Length: 16777216\r\n\r\n";
    const std::string part(kSent, 'u');
    std::vector<TDescriptor> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(ConnectToLoopback(m_port));
        ASSERT_TRUE(SendAll(clients.back(), head + part));
    }
    EXPECT_TRUE(WaitFor([&] { return hiddenBytes() == kClients * kSent; }))
        << hiddenBytes() << " bytes stored of " << kClients * kSent;
    const long resident = ResidentKilobytes(m_server->Pid());
    std::cout << "[ FIGURE   ] " << kClients << " unfinished uploads of " << (kSent >> 20)
              << " MiB each: " << resident << " KiB resident\n";
    if (kWithoutSanitizers) {
        EXPECT_LT(resident, 64 * 1024);
    }

    clients.clear();
    EXPECT_TRUE(WaitFor([&] {
        return hiddenBytes() == 0 && fs::is_empty(m_root / "served/posted");
    })) << "an unfinished upload was left behind";
}

// Text a client sent is shown with its control bytes escaped, and a refused
// line is echoed in the status line cut to 200 bytes.
TEST_F(TerminalFileServerTest, RefusedLinesAreEscapedAndCut) {
    StartServer();
    const std::string line = "Bad\x1b[31m" + std::string(1000, 'x');
    TDescriptor client = ConnectToLoopback(m_port);
    ASSERT_TRUE(SendAll(client, "GET /get?name=a&terminalSN=1 HTTP/1.1\r\n" + line + "\r\n\r\n"));
    const std::string status = StatusLine(ReceiveUntilClosed(client));
    const std::string shown = "Bad\\x1B[31m" + std::string(200 - 8, 'x') + "...";
    EXPECT_EQ(status, "HTTP/1.1 500 Invalid header line:" + shown);
    EXPECT_EQ(m_server->ReadLine(), "Refused a request: Invalid header line:" + shown);
}

// A raw NUL inside a file name makes the name invalid; the parts around it
// do not name another file.
TEST_F(TerminalFileServerTest, ARawNulInANameIsRefused) {
    m_root.WriteFile("served/data.bin", "data");
    StartServer();
    TDescriptor client = ConnectToLoopback(m_port);
    ASSERT_TRUE(SendAll(client, std::string("GET /get?name=da\0ta.bin&terminalSN=1 HTTP/1.1\r\n"
                                            "User-Agent: T1\r\n\r\n",
                                            65)));
    EXPECT_EQ(StatusLine(ReceiveUntilClosed(client)), "HTTP/1.1 500 Invalid file name");
    EXPECT_EQ(m_server->ReadLine(), "GET da\\x00ta.bin from T1 (serial 1): Invalid file name");
}

}  // namespace
