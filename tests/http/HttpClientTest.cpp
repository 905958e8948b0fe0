#include "http/HttpClient.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "log/SystemTracer.h"
#include "platform/FileSystem.h"
#include "platform/Timer.h"
#include "platform/linux/LinFileSystem.h"
#include "platform/linux/LinSystem.h"
#include "platform/linux/LinTimer.h"
#include "support/ChildProcess.h"
#include "support/StandInFiles.h"
#include "support/TempDir.h"
#include "support/TestSystem.h"

namespace {

namespace fs = std::filesystem;

const char kUserAgent[] = "pinpad-test/1.0";

std::string ReadWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string Url(const std::string& port, const std::string& document) {
    return "http://127.0.0.1:" + port + "/" + document;
}

// The test system on the real clock, since real servers answer in real time;
// the default file system and the traffic logs are in its temporary home.
class TRealTimeSystem : public TTestSystem {
  public:
    ITimer* CreateTimer(unsigned long milliseconds) override {
        return TLinSystem::CreateTimer(milliseconds);
    }
    void Wait(unsigned long milliseconds) override { TLinSystem::Wait(milliseconds); }
    void Idle() override { TLinSystem::Idle(); }
    bool WaitForActivity(TWaitSet& waits, unsigned long milliseconds) override {
        return TLinSystem::WaitForActivity(waits, milliseconds);
    }
};

// Real HTTP peers on 127.0.0.1 and a file system in a temporary directory.
class HttpClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(Served());
        fs::create_directories(Received());
        fs::create_directories(Requests());
        files = std::make_unique<TLinFileSystem>(Received().c_str());
    }

    fs::path Served() const { return fs::path(dir.Path()) / "served"; }
    fs::path Received() const { return fs::path(dir.Path()) / "received"; }
    fs::path Requests() const { return fs::path(dir.Path()) / "requests"; }

    // A server that answers the n-th request of every connection with the
    // n-th response; returns its port.
    std::string StartCannedServer(const std::vector<std::string>& responses) {
        return StartCannedServer(responses, server);
    }
    // As above, the server held in `holder`.
    std::string StartCannedServer(const std::vector<std::string>& responses,
                                  std::unique_ptr<ChildProcess>& holder) {
        const fs::path script = fs::path(__FILE__).parent_path() / "canned_http_server.py";
        std::vector<std::string> argv{"python3", script.string(), Requests().string()};
        argv.insert(argv.end(), responses.begin(), responses.end());
        return StartServer(argv, holder);
    }

    std::string StartStaticServer() {
        return StartServer({"python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1",
                            "--directory", Served().string()},
                           server);
    }

    std::string LoggedRequest(int connection, int request) const {
        return ReadWholeFile(Requests() / ("conn" + std::to_string(connection) + "-req" +
                                           std::to_string(request) + ".txt"));
    }

    bool RequestLogged(int connection, int request) const {
        return fs::exists(Requests() / ("conn" + std::to_string(connection) + "-req" +
                                        std::to_string(request) + ".txt"));
    }

    TRealTimeSystem system;
    TempDir dir;
    std::unique_ptr<TLinFileSystem> files;
    std::unique_ptr<ChildProcess> server;
    std::unique_ptr<ChildProcess> secondServer;

    std::string StartServer(const std::vector<std::string>& argv,
                            std::unique_ptr<ChildProcess>& holder) {
        holder = std::make_unique<ChildProcess>(argv);
        std::string line = holder->ReadLine();
        // http.server announces "Serving HTTP on 127.0.0.1 port N (...)".
        const std::size_t port = line.find(" port ");
        if (port != std::string::npos) {
            line = line.substr(port + 6, line.find(' ', port + 6) - port - 6);
        }
        EXPECT_FALSE(line.empty()) << "the server did not start";
        return line;
    }
};

TEST_F(HttpClientTest, GetFileCopiesAServedFileOfManyPortions) {
    std::string content;
    for (int i = 0; i < 300000; ++i) {
        content += static_cast<char>(i * 7 % 251);
    }
    WriteWholeFile(Served() / "data.bin", content);
    THttpClient client(kUserAgent, Url(StartStaticServer(), "data.bin"), 5000, files.get());

    ASSERT_EQ(client.GetFile("copy.bin", content.size()).Code(), 0u);

    EXPECT_EQ(ReadWholeFile(Received() / "copy.bin"), content);
    EXPECT_TRUE(client.GetStatistics()->serverAnswered);
    EXPECT_EQ(client.GetStatistics()->interfaceName, "Ethernet");
}

TEST_F(HttpClientTest, GetFileOfAMissingDocumentFailsWithTheStatusLineAndWritesNothing) {
    THttpClient client(kUserAgent, Url(StartStaticServer(), "missing.bin"), 5000, files.get());

    EXPECT_EQ(client.GetFile("copy.bin", 0).Code(), 27007u);
    EXPECT_FALSE(fs::exists(Received() / "copy.bin"));
}

TEST_F(HttpClientTest, PostSendsTheTemplateExactlyAndReturnsTheBody) {
    const std::string port =
        StartCannedServer({"HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n{\"ok\":true}"});
    THttpClient client(kUserAgent, Url(port, "api/pay"), 5000, files.get());
    std::string reply;

    ASSERT_EQ(client.Post("{\"sum\":5}", reply, false).Code(), 0u);

    EXPECT_EQ(reply, "{\"ok\":true}");
    EXPECT_EQ(LoggedRequest(1, 1),
              "POST /api/pay HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n"
              "User-Agent: pinpad-test/1.0\r\nAccept: application/json, application/*+json\r\n"
              "Content-type: application/json;charset=UTF-8\r\nContent-Length: 9\r\n\r\n"
              "{\"sum\":5}");
}

TEST_F(HttpClientTest, PostWithoutBodyIsSentAsAGet) {
    const std::string port = StartCannedServer({"HTTP/1.1 200 OK\r\n\r\n"});
    THttpClient client(kUserAgent, Url(port, "status"), 5000, files.get());
    std::string reply;

    ASSERT_EQ(client.Post("", reply, false).Code(), 0u);

    EXPECT_EQ(LoggedRequest(1, 1),
              "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n"
              "User-Agent: pinpad-test/1.0\r\nAccept: application/octet-stream\r\n"
              "Content-Type: application/octet-stream\r\n\r\n");
}

TEST_F(HttpClientTest, RequestHeaderIsNotCutShortByLongValues) {
    const std::string port = StartCannedServer({"HTTP/1.1 200 OK\r\n\r\n"});
    const std::string document = "doc?" + std::string(1500, 'd');
    const std::string userAgent = "agent-" + std::string(1500, 'u');
    THttpClient client(userAgent, Url(port, document), 5000, files.get());
    std::string reply;

    ASSERT_EQ(client.Post("{}", reply, false).Code(), 0u);

    const std::string request = LoggedRequest(1, 1);
    EXPECT_NE(request.find("POST /" + document + " HTTP/1.1\r\n"), std::string::npos);
    EXPECT_NE(request.find("User-Agent: " + userAgent + "\r\n"), std::string::npos);
    EXPECT_EQ(request.substr(request.size() - 6), "\r\n\r\n{}");
}

struct ResponseCase {
    const char* name;
    std::string response;
    unsigned long code;
    std::string reply;
};

void PrintTo(const ResponseCase& c, std::ostream* out) {
    *out << c.name;
}

class HttpResponseTest : public HttpClientTest,
                         public ::testing::WithParamInterface<ResponseCase> {};

TEST_P(HttpResponseTest, PostReadsTheResponse) {
    const ResponseCase& c = GetParam();
    THttpClient client(kUserAgent, Url(StartCannedServer({c.response}), "x"), 5000, files.get());
    std::string reply;

    EXPECT_EQ(client.Post("{}", reply, false).Code(), c.code);
    EXPECT_EQ(reply, c.reply);
}

const ResponseCase kResponses[] = {
    {"ContentLengthBody", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 0, "hello"},
    {"ShortestGoodStatusLine", "HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nok", 0, "ok"},
    {"NoLengthMeansNoBody", "HTTP/1.1 200 OK\r\nServer: canned\r\n\r\nignored", 0, ""},
    {"ChunkedBody",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n3\r\nabc\r\n0\r\n\r\n", 0,
     "helloabc"},
    {"ChunkExtensionsAreIgnored",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;name=v\r\nhello\r\n0\r\n\r\n", 0,
     "hello"},
    {"OnlyTransferEncodingMeansChunked",
     "HTTP/1.1 200 OK\r\nX-Note: chunked\r\nContent-Length: 3\r\n\r\nabc", 0, "abc"},
    {"HeaderNamesInAnyCase",
     "HTTP/1.1 200 OK\r\ntransfer-encoding: Chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 0, "abc"},
    {"LengthInLowerCase", "HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\nhello", 0, "hello"},
    {"EmptyBodyOfLengthZero", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 0, ""},
    {"SameLengthTwice", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length: 2\r\n\r\nok", 0,
     "ok"},
    {"TwoLengths", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 5\r\n\r\nhello", 27003,
     "Content-Length: 5"},
    {"OtherTransferCoding", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nxyz", 27003,
     "Transfer-Encoding: gzip"},
    {"Http10", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", 0, "ok"},
    {"Status201", "HTTP/1.1 201 Created\r\n\r\n", 27007, "HTTP/1.1 201 Created"},
    {"StatusLineTooShort", "HTTP/1.1 20\r\n\r\n", 27007, "HTTP/1.1 20"},
    {"StatusLineNotHttp", "HTTX/1.1 200 OK\r\n\r\n", 27007, "HTTX/1.1 200 OK"},
    {"StatusOfFourDigits", "HTTP/1.1 2000 OK\r\n\r\n", 27007, "HTTP/1.1 2000 OK"},
    {"StatusWithoutVersion", "HTTPZZZZZ200\r\n\r\n", 27007, "HTTPZZZZZ200"},
    {"StatusOfAnotherVersion", "HTTP/2.0 200 OK\r\n\r\n", 27007, "HTTP/2.0 200 OK"},
    {"StatusWithoutSpace", "HTTP/1.1\t200 OK\r\n\r\n", 27007, "HTTP/1.1\t200 OK"},
    {"HeaderWithoutColonSpace", "HTTP/1.1 200 OK\r\nContent-Length:5\r\n\r\nhello", 27008,
     "Content-Length:5"},
    {"ChunkSizeNotHexadecimal",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nzz\r\nmore\r\n0\r\n\r\n",
     27003, ""},
    {"FirstChunkSizeNotHexadecimal",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n\r\nhello\r\n0\r\n\r\n", 27003, ""},
    {"ChunkLongerThanItsSize",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nhello\r\n0\r\n\r\n", 27003, ""},
    {"ConnectionClosedBeforeNextChunkSize",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", 27003, ""},
    {"BodyCutShort", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello", 27003, ""},
    {"ChunkCutShort", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel", 27003, ""},
    {"ContentLengthWithSpaces", "HTTP/1.1 200 OK\r\nContent-Length:  5 \r\n\r\nhello", 0, "hello"},
    {"ContentLengthNotANumber", "HTTP/1.1 200 OK\r\nContent-Length: 5x\r\n\r\nhello", 27003,
     "Content-Length: 5x"},
    {"ContentLengthNegative", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nhello", 27003,
     "Content-Length: -5"},
    {"ContentLengthEmpty", "HTTP/1.1 200 OK\r\nContent-Length: \r\n\r\nhello", 27003,
     "Content-Length: "},
    {"ContentLengthBeyondRange",
     "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nhello", 27003,
     "Content-Length: 99999999999999999999999"},
    {"ConnectionClosedInTheHeader", "HTTP/1.1 200 OK\r\nContent-Le", 27006, ""},
};

INSTANTIATE_TEST_SUITE_P(Responses, HttpResponseTest, ::testing::ValuesIn(kResponses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpClientTest, BrokenBodyLeavesNoFile) {
    const char* const responses[] = {
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nzz\r\nmore\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n3\r\nab",
        "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello",
    };
    for (const char* response : responses) {
        SCOPED_TRACE(response);
        THttpClient client(kUserAgent, Url(StartCannedServer({response}), "file"), 5000,
                           files.get());

        EXPECT_EQ(client.GetFile("copy.bin", 0).Code(), 27003u);
        EXPECT_FALSE(fs::exists(Received() / "copy.bin"));
    }
}

TEST_F(HttpClientTest, ChunkedFileIsWrittenWhole) {
    const std::string port =
        StartCannedServer({"HTTP/1.1 200 OK\r\nTransfer-Encoding: "
                           "chunked\r\n\r\n5\r\nhello\r\n3\r\nabc\r\n0\r\n\r\n"});
    THttpClient client(kUserAgent, Url(port, "file"), 5000, files.get());

    ASSERT_EQ(client.GetFile("copy.bin", 8).Code(), 0u);
    EXPECT_EQ(ReadWholeFile(Received() / "copy.bin"), "helloabc");
}

// A GET succeeds only with a file that is exactly the body; an answer that
// does not say where its body ends fails, leaving an older file alone.
TEST_F(HttpClientTest, GetFileWritesExactlyTheBodyOrFails) {
    struct {
        const char* label;
        std::string response;
        unsigned long code;
        std::string file;  // what copy.bin then holds
    } const cases[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 0, "hello"},
        {"length in lower case", "HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\nhello", 0, "hello"},
        {"empty body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 0, ""},
        {"empty chunked body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 0,
         ""},
        {"body until close", "HTTP/1.1 200 OK\r\nServer: canned\r\n\r\nthe whole body", 27003,
         "stale"},
        {"chunked only in name", "HTTP/1.1 200 OK\r\nX-Note: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
         27003, "stale"},
    };
    for (const auto& c : cases) {
        WriteWholeFile(Received() / "copy.bin", "stale");
        THttpClient client(kUserAgent, Url(StartCannedServer({c.response}), "file"), 5000,
                           files.get());
        EXPECT_EQ(client.GetFile("copy.bin", 0).Code(), c.code) << c.label;
        EXPECT_EQ(ReadWholeFile(Received() / "copy.bin"), c.file) << c.label;

        std::string body = "untouched";
        EXPECT_EQ(client.GetDocument(body).Code(), c.code) << c.label;
        EXPECT_EQ(body, c.code == 0 ? c.file : "") << c.label;
    }
}

// The test system whose clock runs a hundred times faster than the real one,
// so that a server dribbling its header in real time outlasts the client's
// deadlines within a moment.
class TFastClockSystem : public TRealTimeSystem {
  public:
    static constexpr unsigned long kSpeed = 100;
    ITimer* CreateTimer(unsigned long milliseconds) override {
        return new TFastTimer(milliseconds);
    }

  private:
    class TFastTimer : public TPCTimer {
      public:
        explicit TFastTimer(unsigned long milliseconds) { Setup(milliseconds); }
        unsigned long GetMsecCounter() override {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            return kSpeed * TLinTimer::MsecCounterAt(now);
        }
    };
};

// Every header line comes well within its own time-out, but the header never
// ends: the deadline of the whole header ends the wait.
TEST_F(HttpClientTest, HeaderThatNeverEndsFailsAtItsDeadline) {
    static const char kScript[] =
        "import socket, time\n"
        "l = socket.socket()\n"
        "l.bind(('127.0.0.1', 0))\n"
        "l.listen(1)\n"
        "print(l.getsockname()[1], flush=True)\n"
        "c, _ = l.accept()\n"
        "c.recv(65536)\n"
        "c.sendall(b'HTTP/1.1 200 OK\\r\\n')\n"
        "try:\n"
        "    while True:\n"
        "        time.sleep(0.01)\n"
        "        c.sendall(b'X-Slow: 1\\r\\n')\n"
        "except OSError:\n"
        "    pass\n";
    const std::string port = StartServer({"python3", "-c", kScript}, server);
    TFastClockSystem fastClock;
    // Each line's own time-out is far longer than the server's pace, even
    // on a busy machine, and still shorter than the header's deadline.
    THttpClient client(kUserAgent, Url(port, "file"), 25000, files.get());
    // Started before the client's own deadline, so it has run at least as
    // long once the exchange is given up.
    const std::unique_ptr<ITimer> watch(fastClock.CreateTimer(0));

    EXPECT_EQ(client.GetFile("copy.bin", 0).Code(), 27006u);
    EXPECT_TRUE(client.GetStatistics()->serverAnswered);
    EXPECT_GE(watch->GetElapsedMsec(), 30000u);
    EXPECT_FALSE(fs::exists(Received() / "copy.bin"));
}

TEST_F(HttpClientTest, FileThatCannotBeWrittenFailsTheExchangeAndIsRemoved) {
    const std::string port =
        StartCannedServer({"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"});
    TStandInFiles fullDisk(Received().c_str(), TStandInFiles::TWrites::Failing);
    THttpClient client(kUserAgent, Url(port, "file"), 5000, &fullDisk);

    EXPECT_EQ(client.GetFile("copy.bin", 5).Code(), 27005u);
    EXPECT_FALSE(fs::exists(Received() / "copy.bin"));
}

TEST_F(HttpClientTest, FileThatCannotBeOpenedFailsTheExchange) {
    const std::string port =
        StartCannedServer({"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"});
    THttpClient client(kUserAgent, Url(port, "file"), 5000, files.get());

    EXPECT_EQ(client.GetFile("no-such-dir/copy.bin", 5).Code(), 27005u);
}

TEST_F(HttpClientTest, KeepConnectionServesTwoPostsOnOneConnection) {
    // The first body comes by its length, or chunked with a trailer that
    // must not be taken for the second response.
    const char* const firstResponses[] = {
        "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\none",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\none\r\n0\r\nX-T: 1\r\n\r\n",
    };
    for (const char* first : firstResponses) {
        SCOPED_TRACE(first);
        fs::remove_all(Requests());
        fs::create_directories(Requests());
        const std::string port =
            StartCannedServer({first, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\ntwo"});
        THttpClient client(kUserAgent, Url(port, "x"), 5000, files.get());
        std::string reply;

        ASSERT_EQ(client.Post("{\"n\":1}", reply, true).Code(), 0u);
        EXPECT_EQ(reply, "one");
        ASSERT_EQ(client.Post("{\"n\":2}", reply, false).Code(), 0u);
        EXPECT_EQ(reply, "two");

        EXPECT_TRUE(RequestLogged(1, 2));
        EXPECT_FALSE(RequestLogged(2, 1));
        EXPECT_EQ(client.GetStatistics()->interfaceName, "")
            << "the second post chose no interface";
    }
}

TEST_F(HttpClientTest, KeptConnectionIsNotUsedForAnotherServer) {
    const std::string first =
        StartCannedServer({"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\none",
                           "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nbad"});
    const std::string second =
        StartCannedServer({"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\ntwo"}, secondServer);
    THttpClient client(kUserAgent, Url(first, "x"), 5000, files.get());
    std::string reply;

    ASSERT_EQ(client.Post("{}", reply, true).Code(), 0u);
    client.SetURL(Url(second, "x"));
    ASSERT_EQ(client.Post("{}", reply, false).Code(), 0u);

    EXPECT_EQ(reply, "two");
}

TEST_F(HttpClientTest, TraceShowsEveryExchangeAlsoOnAKeptConnection) {
    const std::string port = StartCannedServer({"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\none",
                                                "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\ntwo"});
    TSystemTracer& tracer = TSystemTracer::Instance();
    tracer.SetOutput(TSystemTracer::OUTPUT_FILE);
    tracer.SetEnabled(true);
    THttpClient client(kUserAgent, Url(port, "x"), 5000, files.get());
    std::string reply;

    const Error first = client.Post("1", reply, true);
    const Error second = client.Post("2", reply, false);
    tracer.SetEnabled(false);
    tracer.SetOutput(TSystemTracer::OUTPUT_NONE);

    ASSERT_EQ(first.Code(), 0u);
    ASSERT_EQ(second.Code(), 0u);
    auto exchange = [&](int request, const std::string& answer) {
        return "Connecting to http://127.0.0.1:" + port + "/x, result=0\n\n" + "Sent:\n-----\n" +
               LoggedRequest(1, request) + "\n\n" +
               "Received:\n---------\nHTTP/1.1 200 OK\nContent-Length: 3\n" + answer +
               "\n\nDisconnected.\n\n\n\n";
    };
    EXPECT_EQ(ReadWholeFile(fs::path(system.Home()) / "qntrace.txt"),
              exchange(1, "one") + exchange(2, "two"));
}

TEST_F(HttpClientTest, WithoutKeepConnectionEveryPostConnectsAnew) {
    const std::string port = StartCannedServer({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
                                                "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"});
    THttpClient client(kUserAgent, Url(port, "x"), 5000, files.get());
    std::string reply;

    ASSERT_EQ(client.Post("{}", reply, false).Code(), 0u);
    ASSERT_EQ(client.Post("{}", reply, false).Code(), 0u);

    EXPECT_TRUE(RequestLogged(2, 1));
    EXPECT_FALSE(RequestLogged(1, 2));
}

TEST_F(HttpClientTest, FailedExchangeClosesAKeptConnection) {
    const std::string port = StartCannedServer(
        {"HTTP/1.1 500 Oops\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"});
    THttpClient client(kUserAgent, Url(port, "x"), 5000, files.get());
    std::string reply;

    ASSERT_EQ(client.Post("{}", reply, true).Code(), 27007u);
    ASSERT_EQ(client.Post("{}", reply, true).Code(), 27007u);

    EXPECT_TRUE(RequestLogged(2, 1)) << "the second post must use a new connection";
}

TEST_F(HttpClientTest, SilentServerTimesOutTheStatusLine) {
    const std::string port = StartCannedServer({""});
    THttpClient client(kUserAgent, Url(port, "x"), 300, files.get());
    std::string reply;

    EXPECT_EQ(client.Post("{}", reply, false).Code(), 27006u);
    EXPECT_FALSE(client.GetStatistics()->serverAnswered);
    EXPECT_GE(client.GetStatistics()->headerReadMsec, 300u);
}

TEST_F(HttpClientTest, UrlWithoutHostOrPortFailsWithoutNetworkActivity) {
    THttpClient client(kUserAgent, "http://127.0.0.1:8080/x", 5000, files.get());
    client.SetURL("http://127.0.0.1/x");
    std::string reply;

    EXPECT_EQ(client.Post("{}", reply, false).Code(), 27001u);
    EXPECT_EQ(client.GetStatistics()->interfaceName, "") << "no interface was tried";
    EXPECT_EQ(
        THttpClient(kUserAgent, "http://:1/x", 5000, files.get()).Post("", reply, false).Code(),
        27001u);
}

TEST_F(HttpClientTest, PutFileIsNotSupported) {
    THttpClient client(kUserAgent, "http://127.0.0.1:8080/x", 5000, files.get());
    EXPECT_EQ(client.PutFile("any").Code(), 2u);
}

}  // namespace
