#include "http/HttpCustomer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/linux/LinFileSystem.h"
#include "support/MemoryConnection.h"
#include "support/TempDir.h"
#include "support/TestSystem.h"

namespace {

using ::testing::ElementsAreArray;

// What a customer hands over for one request, or the message it was rejected with.
struct TCollected {
    std::string error;
    HTTP_REQUEST_TYPE type = HTTP_REQUEST_INVALID;
    std::string content;
    std::string serial;
    std::string name;

    bool operator==(const TCollected&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TCollected& c) {
    if (!c.error.empty()) {
        return os << "error \"" << c.error << "\"";
    }
    return os << "type " << c.type << " content \"" << c.content << "\" serial \"" << c.serial
              << "\" name \"" << c.name << "\"";
}

TCollected Rejected(const std::string& error) {
    return TCollected{error, HTTP_REQUEST_INVALID, "", "", ""};
}

// A customer on one end of an in-memory line; the test plays the client at
// the other end.
class CustomerOnLine {
  public:
    // Passes the bytes to the customer and lets it read until it has taken
    // everything it is willing to take.
    void Feed(const std::string& bytes) {
        m_line.Inject(TMemoryLine::A, T_BinaryData(bytes));
        Pump(bytes.size());
    }

    void Pump(std::size_t expectedBytes = 0) {
        const std::size_t passes = 2 * (expectedBytes / THttpCustomer::kReadChunk) + 4;
        for (std::size_t i = 0; i < passes; ++i) {
            customer.TryToReadRawData();
        }
    }

    // Collects every request the customer has ready, as the server does:
    // rejected ones are flushed, complete ones read and answered.
    std::vector<TCollected> Collect() {
        std::vector<TCollected> collected;
        while (customer.IsRequestReceived()) {
            if (!customer.GetErrorMessage().empty()) {
                collected.push_back(Rejected(customer.GetErrorMessage()));
                customer.FlushRequest();
            } else {
                const std::string name = customer.GetName();
                const HTTP_REQUEST_TYPE type = customer.GetRequestType();
                const std::string content = customer.ReadRequest().ToString();
                collected.push_back({"", type, content, customer.GetSerialNumber(), name});
                Answer();
            }
            Pump();
        }
        return collected;
    }

    // Answers the collected request, so that the customer reads on.
    void Answer() {
        customer.DeliverReply(T_BinaryData(std::string(kEmptyReply)));
        m_line.TakePending(TMemoryLine::B);
    }

    static constexpr char kEmptyReply[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";

    // Bytes the customer has sent.
    std::string Sent() { return m_line.TakePending(TMemoryLine::B).ToString(); }
    TMemoryLine::EndSwitches& Switches() { return m_line.Switches(TMemoryLine::A); }

  private:
    TMemoryLine m_line;

  public:
    THttpCustomer customer{m_line.NewEnd(TMemoryLine::A)};
};

const std::string kGetAbc =
    "GET /get?name=abc.bin&terminalSN=123456 HTTP/1.1\r\nUser-Agent: T1\r\n\r\n";

struct ParseCase {
    const char* label;
    std::string bytes;
    std::vector<TCollected> expected;
};

std::ostream& operator<<(std::ostream& os, const ParseCase& c) {
    return os << c.label;
}

class HttpCustomerParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(HttpCustomerParseTest, HandsOverWhatTheRequestSays) {
    CustomerOnLine client;
    client.Feed(GetParam().bytes);
    EXPECT_THAT(client.Collect(), ElementsAreArray(GetParam().expected));
}

const char kNoNameOrSerial[] = "No file name or serial number in GET request";

INSTANTIATE_TEST_SUITE_P(
    Requests, HttpCustomerParseTest,
    ::testing::Values(
        ParseCase{
            "GetWithNameAndSerial", kGetAbc, {{"", HTTP_REQUEST_GET, "abc.bin", "123456", "T1"}}},
        ParseCase{"NameEndsAtTheNextAmpersand",
                  "GET /get?name=a.bin&x=1&terminalSN=77 HTTP/1.1\r\n\r\n",
                  {{"", HTTP_REQUEST_GET, "a.bin", "77", ""}}},
        ParseCase{"QueryIsNotDecoded",
                  "GET /get?name=a%20b+c&terminalSN=1 HTTP/1.1\r\n\r\n",
                  {{"", HTTP_REQUEST_GET, "a%20b+c", "1", ""}}},
        ParseCase{"BareLineFeeds",
                  "GET /g?name=n&terminalSN=5 HTTP/1.1\nUser-Agent: T\n\n",
                  {{"", HTTP_REQUEST_GET, "n", "5", "T"}}},
        ParseCase{"BareCarriageReturns",
                  "GET /g?name=n&terminalSN=5 HTTP/1.1\rUser-Agent: T\r\r",
                  {{"", HTTP_REQUEST_GET, "n", "5", "T"}}},
        ParseCase{
            "GetWithoutSerial", "GET /get?name=abc.bin HTTP/1.1\r\n", {Rejected(kNoNameOrSerial)}},
        ParseCase{"GetWithEmptySerial",
                  "GET /get?name=abc.bin&terminalSN= HTTP/1.1\r\n",
                  {Rejected(kNoNameOrSerial)}},
        ParseCase{
            "GetWithoutName", "GET /get?terminalSN=1 HTTP/1.1\r\n", {Rejected(kNoNameOrSerial)}},
        ParseCase{"Http10",
                  "GET /get?name=a&terminalSN=1 HTTP/1.0\r\n",
                  {Rejected("Invalid request type")}},
        ParseCase{"OtherMethod", "PUT /x HTTP/1.1\r\n", {Rejected("Invalid request type")}},
        ParseCase{"HeaderLineWithoutColon",
                  "POST /x HTTP/1.1\r\nBogus\r\n\r\n",
                  {Rejected("Invalid header line:Bogus")}},
        ParseCase{"PostWithBody",
                  "POST /up HTTP/1.1\r\nUser-Agent: T2\r\nContent-Length: 3\r\n\r\nabc",
                  {{"", HTTP_REQUEST_POST, "abc", "", "T2"}}},
        ParseCase{"PostWithoutLength",
                  "POST /up HTTP/1.1\r\n\r\n",
                  {{"", HTTP_REQUEST_POST, "", "", ""}}},
        ParseCase{
            "HeaderNotFinished", "GET /get?name=a&terminalSN=1 HTTP/1.1\r\nUser-Agent: T1\r\n", {}},
        ParseCase{"BodyNotFinished", "POST /up HTTP/1.1\r\nContent-Length: 10\r\n\r\nabcd", {}},
        ParseCase{"RequestsOneAfterTheOther",
                  kGetAbc + "POST /up HTTP/1.1\r\nUser-Agent: T1\r\nContent-Length: 2\r\n\r\nok" +
                      kGetAbc,
                  {{"", HTTP_REQUEST_GET, "abc.bin", "123456", "T1"},
                   {"", HTTP_REQUEST_POST, "ok", "123456", "T1"},
                   {"", HTTP_REQUEST_GET, "abc.bin", "123456", "T1"}}}),
    [](const auto& info) { return std::string(info.param.label); });

// The name of a customer is the User-Agent of its last complete request,
// the value without the blanks around it, the header's name in any case.
TEST(HttpCustomerTest, NameIsTheUserAgentOfTheLastCompleteRequest) {
    struct {
        const char* line;
        const char* name;
    } const cases[] = {
        {"User-Agent: T1", "T1"}, {"User-Agent:T1", "T1"},      {"User-Agent:1", "1"},
        {"User-Agent:", ""},      {"User-Agent: a: b", "a: b"}, {"User-Agent:  T1 \t", "T1"},
        {"user-agent: T1", "T1"}, {"USER-AGENT: T1", "T1"},
    };
    for (const auto& c : cases) {
        CustomerOnLine client;
        client.Feed("GET /g?name=n&terminalSN=1 HTTP/1.1\r\n" + std::string(c.line) + "\r\n\r\n");
        const std::vector<TCollected> collected = client.Collect();
        ASSERT_EQ(collected.size(), 1u) << c.line;
        EXPECT_EQ(collected[0].name, c.name) << c.line;
    }

    CustomerOnLine client;
    client.Feed("GET /g?name=n&terminalSN=1 HTTP/1.1\r\nUser-Agent: T1\r\nUser-Agent: T2\r\n");
    EXPECT_EQ(client.customer.GetName(), "") << "a header still arriving names no one";
    client.Feed("\r\n");
    EXPECT_EQ(client.customer.GetName(), "T2") << "a repeated name keeps the last value";
    EXPECT_FALSE(client.customer.AddHeaderLine("User-Agent T1"));
}

// What frames a request's body; anything that could be read in two ways is
// refused, and the connection must then go.
TEST(HttpCustomerTest, OnlyOneUnambiguousLengthFramesABody) {
    const std::string post = "POST /up HTTP/1.1\r\nUser-Agent: T1\r\n";
    const std::string next = "GET /g?name=next&terminalSN=1 HTTP/1.1\r\n\r\n";
    const TCollected nextGet{"", HTTP_REQUEST_GET, "next", "1", ""};
    const auto body = [](const std::string& content) {
        return TCollected{"", HTTP_REQUEST_POST, content, "", "T1"};
    };
    struct {
        const char* label;
        std::string bytes;
        std::vector<TCollected> expected;
        bool disconnect;
    } const cases[] = {
        {"length without space",
         post + "Content-Length:12\r\n\r\n0123456789ab" + next,
         {body("0123456789ab"), nextGet},
         false},
        {"length in lower case",
         post + "content-length: 5\r\n\r\nhello" + next,
         {body("hello"), nextGet},
         false},
        {"length with blanks around it",
         post + "Content-Length: \t5 \r\n\r\nhello" + next,
         {body("hello"), nextGet},
         false},
        {"same length twice",
         post + "Content-Length: 2\r\nCONTENT-LENGTH: 2\r\n\r\nok" + next,
         {body("ok"), nextGet},
         false},
        {"two lengths",
         post + "Content-Length: 2\r\ncontent-length: 12\r\n\r\nok" + next,
         {Rejected("Invalid header line:content-length: 12")},
         true},
        {"length not digits",
         post + "Content-Length: 1x\r\n\r\nabc",
         {Rejected("Invalid header line:Content-Length: 1x")},
         true},
        {"length negative",
         post + "Content-Length: -1\r\n\r\nabc",
         {Rejected("Invalid header line:Content-Length: -1")},
         true},
        {"length signed",
         post + "Content-Length: +3\r\n\r\nabc",
         {Rejected("Invalid header line:Content-Length: +3")},
         true},
        {"length empty",
         post + "Content-Length:\r\n\r\n",
         {Rejected("Invalid header line:Content-Length: ")},
         true},
        {"chunked body",
         post + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n" + next,
         {Rejected("Transfer-Encoding not supported")},
         true},
        {"any transfer coding",
         post + "transfer-encoding: identity\r\nContent-Length: 1\r\n\r\nx",
         {Rejected("Transfer-Encoding not supported")},
         true},
        {"blank before the colon",
         post + "Content-Length : 3\r\n\r\nabc",
         {Rejected("Invalid header line:Content-Length : 3")},
         false},
        {"get with a body",
         "GET /g?name=a&terminalSN=1 HTTP/1.1\r\nContent-Length: 3\r\n\r\nGET" + next,
         {{"", HTTP_REQUEST_GET, "a", "1", ""}, nextGet},
         false},
    };
    for (const auto& c : cases) {
        CustomerOnLine client;
        client.Feed(c.bytes);
        const bool disconnect = client.customer.MustDisconnect();
        EXPECT_THAT(client.Collect(), ElementsAreArray(c.expected)) << c.label;
        EXPECT_EQ(disconnect, c.disconnect) << c.label;
    }
}

TEST(HttpCustomerTest, PostIsReportedOnceItsWholeBodyHasArrived) {
    CustomerOnLine client;
    client.Feed("POST /up HTTP/1.1\r\nUser-Agent: T1\r\nContent-Length: 10\r\n\r\n0123");
    EXPECT_FALSE(client.customer.IsRequestReceived());
    client.Feed("456789GET /next");
    ASSERT_TRUE(client.customer.IsRequestReceived());
    EXPECT_EQ(client.customer.ReadRequest().ToString(), "0123456789");
    client.Answer();
    // The start of the next request waits for the rest of it.
    client.Feed("?name=f&terminalSN=9 HTTP/1.1\r\n\r\n");
    EXPECT_THAT(client.Collect(),
                ElementsAreArray({TCollected{"", HTTP_REQUEST_GET, "f", "9", ""}}));
}

// However the bytes of a stream of requests are cut, the same requests come
// out, each exactly once: a request that is complete is not lost to bytes
// behind it, and a CR LF cut in two is not taken for two line ends.
TEST(HttpCustomerTest, RequestsComeOutTheSameWhereverTheStreamIsCut) {
    const std::string stream =
        kGetAbc + "POST /up HTTP/1.1\r\nUser-Agent: T1\r\nContent-Length: 4\r\n\r\n\r\nab" +
        "GET /get?name=x&terminalSN=2 HTTP/1.1\nUser-Agent: T2\n\n";
    const std::vector<TCollected> expected = {
        {"", HTTP_REQUEST_GET, "abc.bin", "123456", "T1"},
        {"", HTTP_REQUEST_POST, "\r\nab", "123456", "T1"},
        {"", HTTP_REQUEST_GET, "x", "2", "T2"},
    };
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        CustomerOnLine client;
        client.Feed(stream.substr(0, cut));
        std::vector<TCollected> collected = client.Collect();
        client.Feed(stream.substr(cut));
        for (const TCollected& c : client.Collect()) {
            collected.push_back(c);
        }
        EXPECT_THAT(collected, ElementsAreArray(expected)) << "cut after " << cut << " bytes";
    }

    CustomerOnLine byteByByte;
    std::vector<TCollected> collected;
    for (char c : stream) {
        byteByByte.Feed(std::string(1, c));
        for (const TCollected& request : byteByByte.Collect()) {
            collected.push_back(request);
        }
    }
    EXPECT_THAT(collected, ElementsAreArray(expected));
}

// A request rejected on its first line is answered once, however its header
// arrives: the lines still to come are not taken for requests of their own.
TEST(HttpCustomerTest, RestOfARejectedHeaderIsDroppedAsItArrives) {
    const std::string rejected = "GET /get?name=a HTTP/1.1\r\nUser-Agent: T1\r\nHost: h\r\n\r\n";
    const std::vector<TCollected> expected = {
        Rejected("No file name or serial number in GET request"),
        {"", HTTP_REQUEST_GET, "abc.bin", "123456", "T1"},
    };
    for (std::size_t cut = 1; cut <= rejected.size(); ++cut) {
        CustomerOnLine client;
        client.Feed(rejected.substr(0, cut));
        std::vector<TCollected> collected = client.Collect();
        for (const std::string& rest : {rejected.substr(cut), kGetAbc}) {
            client.Feed(rest);
            for (const TCollected& c : client.Collect()) {
                collected.push_back(c);
            }
        }
        EXPECT_THAT(collected, ElementsAreArray(expected)) << "cut after " << cut << " bytes";
    }
}

// A GET whose header section (through its empty line) has exactly `size` bytes.
std::string GetWithHeaderOfSize(std::size_t size) {
    const std::string start = "GET /get?name=n&terminalSN=1 HTTP/1.1\r\nX-Pad: ";
    const std::string end = "\r\n\r\n";
    return start + std::string(size - start.size() - end.size(), 'p') + end;
}

TEST(HttpCustomerTest, RequestsOverTheSizeBoundsAreRejected) {
    const std::size_t kHeader = THttpCustomer::kMaxHeaderBytes;
    const std::string kPostStart = "POST /up HTTP/1.1\r\nContent-Length: ";
    struct {
        const char* label;
        std::string bytes;
        bool tooLarge;
    } const cases[] = {
        {"header at the bound", GetWithHeaderOfSize(kHeader), false},
        {"header over the bound", GetWithHeaderOfSize(kHeader + 1), true},
        {"unfinished header at the bound", std::string(kHeader, 'G'), false},
        {"unfinished header over the bound", std::string(kHeader + 1, 'G'), true},
        {"body at the bound",
         kPostStart + std::to_string(THttpCustomer::kMaxBodyBytes) + "\r\n\r\n", false},
        {"body over the bound",
         kPostStart + std::to_string(THttpCustomer::kMaxBodyBytes + 1) + "\r\n\r\n", true},
        {"body at the bound with leading zeros",
         kPostStart + "0000000000" + std::to_string(THttpCustomer::kMaxBodyBytes) + "\r\n\r\n",
         false},
        // 2^32 + 10 must not pass for a body of 10 bytes.
        {"body length beyond 32 bits", kPostStart + "4294967306\r\n\r\n0123456789", true},
    };
    for (const auto& c : cases) {
        CustomerOnLine client;
        client.Feed(c.bytes);
        EXPECT_EQ(client.customer.MustDisconnect(), c.tooLarge) << c.label;
        if (c.tooLarge) {
            EXPECT_EQ(client.customer.GetErrorMessage(), "Request too large") << c.label;
        } else {
            EXPECT_EQ(client.customer.GetErrorMessage(), "") << c.label;
        }
    }
}

TEST(HttpCustomerTest, NothingMoreIsReadWhileARequestWaitsToBeCollected) {
    CustomerOnLine client;
    client.Feed(kGetAbc);
    ASSERT_TRUE(client.customer.IsRequestReceived());
    client.Feed(std::string(4 * THttpCustomer::kMaxHeaderBytes, 'x'));
    EXPECT_EQ(client.customer.GetErrorMessage(), "");
    EXPECT_EQ(client.customer.ReadRequest().ToString(), "abc.bin");
}

// A reply goes out as the connection takes it, whole and in order, and
// only then is the next request read.
TEST(HttpCustomerTest, AReplyGoesOutAsTheConnectionTakesIt) {
    TTestSystem system;
    TempDir dir;
    std::string contents;
    for (int i = 0; i < 200000; ++i) {
        contents += static_cast<char>(i % 253);
    }
    dir.WriteFile("f.bin", contents);
    TLinFileSystem files(dir.Path().c_str());

    CustomerOnLine client;
    client.Switches().maxSendChunk = 1000;
    client.Switches().zeroSends = 3;
    client.Feed(kGetAbc + kGetAbc);
    ASSERT_TRUE(client.customer.IsRequestReceived());
    client.customer.ReadRequest();
    client.customer.DeliverFileReply(T_BinaryData(std::string("head:")),
                                     std::unique_ptr<IFileReadable>(files.OpenForRead("f.bin")),
                                     contents.size());
    client.customer.DeliverReply(T_BinaryData(std::string(":tail")));
    std::string sent;
    for (int pass = 0; pass < 1000 && client.customer.HasPendingOutput(); ++pass) {
        sent += client.Sent();
        EXPECT_FALSE(client.customer.IsRequestReceived()) << "read while the reply is going out";
        client.customer.FlushOutput();
        client.customer.TryToReadRawData();
    }
    sent += client.Sent();
    EXPECT_EQ(sent, "head:" + contents + ":tail");
    client.customer.TryToReadRawData();
    EXPECT_TRUE(client.customer.IsRequestReceived()) << "the next request is read after it";
    EXPECT_FALSE(client.customer.IsLinkAborted());
}

TEST(HttpCustomerTest, AFileThatEndsEarlyAbortsItsReply) {
    TTestSystem system;
    TempDir dir;
    dir.WriteFile("short.bin", "abc");
    TLinFileSystem files(dir.Path().c_str());
    CustomerOnLine client;
    client.customer.DeliverFileReply(T_BinaryData(std::string("Content-Length: 10\r\n\r\n")),
                                     std::unique_ptr<IFileReadable>(files.OpenForRead("short.bin")),
                                     10);
    EXPECT_TRUE(client.customer.IsLinkAborted());
}

// A customer is dropped once its reply has not moved for the stall limit,
// or once it has had nothing to do for the idle time; one whose request
// awaits the application's reply is never dropped for silence.
TEST(HttpCustomerTest, StalledAndIdleCustomersAreDone) {
    constexpr unsigned long kStall = 15000;
    constexpr unsigned long kIdle = 60000;
    TTestSystem system;
    TFakeClock& clock = system.Clock();
    {
        CustomerOnLine stalled;
        stalled.Switches().maxSendChunk = 2;
        stalled.customer.DeliverReply(T_BinaryData(std::string("abcdef")));
        stalled.Switches().zeroSends = 1000000;
        clock.Advance(kStall - 1);
        stalled.customer.FlushOutput();
        EXPECT_FALSE(stalled.customer.IsDone(kStall, kIdle));
        clock.Advance(1);
        EXPECT_TRUE(stalled.customer.IsDone(kStall, kIdle)) << "took nothing for 15 s";
    }
    {
        CustomerOnLine slow;
        slow.Switches().maxSendChunk = 1;
        slow.customer.DeliverReply(T_BinaryData(std::string("abcdef")));
        for (int i = 0; i < 4; ++i) {
            clock.Advance(kStall - 1);
            slow.customer.FlushOutput();
            EXPECT_FALSE(slow.customer.IsDone(kStall, kIdle)) << "a slow reader is not stalled";
        }
    }
    {
        CustomerOnLine idle;
        idle.Feed(kGetAbc);
        idle.customer.ReadRequest();
        idle.customer.DeliverReply(T_BinaryData(std::string("x")));
        clock.Advance(kIdle - 1);
        EXPECT_FALSE(idle.customer.IsDone(kStall, kIdle));
        clock.Advance(1);
        EXPECT_TRUE(idle.customer.IsDone(kStall, kIdle)) << "silent for the idle time";
    }
    {
        CustomerOnLine waiting;
        waiting.Feed(kGetAbc);
        waiting.customer.ReadRequest();
        clock.Advance(10 * kIdle);
        EXPECT_FALSE(waiting.customer.IsDone(kStall, kIdle)) << "its reply is the server's to give";
        waiting.Switches().zeroSends = 1000000;
        waiting.customer.DisconnectAfterReply();
        waiting.customer.DeliverReply(T_BinaryData(std::string("x")));
        EXPECT_FALSE(waiting.customer.IsDone(kStall, kIdle)) << "the stall counts from the reply";
        waiting.Switches().zeroSends = 0;
        waiting.customer.FlushOutput();
        EXPECT_TRUE(waiting.customer.IsDone(kStall, kIdle)) << "to go once the reply has gone";
    }
}

// A request's header has 10 s from the connection's start (or from the first
// byte of a later request), however its bytes trickle in; its body must come
// at 1000 bytes a second on average after 10 s of grace.
TEST(HttpCustomerTest, SlowRequestsMissTheirDeadlines) {
    constexpr unsigned long kStall = 15000;
    constexpr unsigned long kIdle = 120000;
    constexpr unsigned long kHeaderMs = THttpCustomer::kDefaultHeaderDeadlineMs;
    TTestSystem system;
    TFakeClock& clock = system.Clock();
    const struct {
        const char* name;
        std::string first;     // sent at once
        std::string trickle;   // one byte of it each second after
        unsigned long doneMs;  // when the customer is dropped
    } cases[] = {
        {"silent from the start", "", "", kHeaderMs},
        {"a header one byte a second", "G", "ET /get?name=a&terminalSN=1 HTTP/1.1\r\nX: 1",
         kHeaderMs},
        {"a body of 5000 bytes, then silence",
         "POST / HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'b'), "",
         THttpCustomer::kBodyGraceMs + 5000 + 1},
    };
    for (const auto& c : cases) {
        CustomerOnLine client;
        const std::uint32_t start = clock.Now();
        client.Feed(c.first);
        std::size_t next = 0;
        while (!client.customer.IsDone(kStall, kIdle)) {
            ASSERT_LT(clock.Now() - start, 3 * kHeaderMs) << c.name;
            clock.Advance(c.trickle.empty() ? 1 : 1000);
            if (next < c.trickle.size()) {
                client.Feed(c.trickle.substr(next++, 1));
            }
        }
        const unsigned long step = c.trickle.empty() ? 1 : 1000;
        EXPECT_GE(clock.Now() - start, c.doneMs) << c.name;
        EXPECT_LT(clock.Now() - start, c.doneMs + step) << c.name;
    }
}

TEST(HttpCustomerTest, FailuresOfTheConnectionAbortTheLink) {
    {
        CustomerOnLine client;
        client.Switches().receiveFailure = -2;
        client.Pump();
        EXPECT_TRUE(client.customer.IsLinkAborted()) << "receive failed";
    }
    {
        CustomerOnLine client;
        client.Switches().sendFailure = -1;
        client.customer.DeliverReply(T_BinaryData(std::string("x")));
        EXPECT_TRUE(client.customer.IsLinkAborted()) << "send failed";
    }
    {
        CustomerOnLine client;
        client.Switches().state = CONNSTATE_DISCONNECTED;
        client.Feed(kGetAbc);
        EXPECT_TRUE(client.customer.IsLinkAborted()) << "disconnected";
        EXPECT_FALSE(client.customer.IsRequestReceived()) << "nothing is read once disconnected";
    }
}

}  // namespace
