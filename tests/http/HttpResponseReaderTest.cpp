#include "http/HttpResponseReader.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "base/BinaryData.h"
#include "base/ErrorCodes.h"
#include "platform/BufferedConnection.h"
#include "platform/linux/LinFileSystem.h"
#include "support/MemoryConnection.h"
#include "support/TempDir.h"
#include "support/TestSystem.h"

namespace {

constexpr unsigned long kCancelled = 4242;  // what a window might answer

// A reader over end A of an in-memory line, on the test system's fake clock,
// with files in a temporary directory.
class HttpResponseReaderTest : public ::testing::Test {
  protected:
    void Arrive(const std::string& bytes) { line.Inject(TMemoryLine::A, T_BinaryData(bytes)); }

    TTestSystem system;
    TempDir dir;
    TLinFileSystem files{dir.Path().c_str()};
    TMemoryLine line;
    TBufferedConnection connection{line.NewEnd(TMemoryLine::A)};
    THttpResponseReader reader{connection, files};
};

struct LineCase {
    const char* name;
    std::string headerLine;
    unsigned long code;
};

void PrintTo(const LineCase& c, std::ostream* out) {
    *out << c.name;
}

class HttpResponseReaderLineTest : public HttpResponseReaderTest,
                                   public ::testing::WithParamInterface<LineCase> {};

// Lines of up to 1022 characters are read; a longer one ends the read.
TEST_P(HttpResponseReaderLineTest, HeaderLineOfLimitedLength) {
    const LineCase& c = GetParam();
    Arrive("HTTP/1.1 200 OK\r\n" + c.headerLine + "\r\nContent-Length: 2\r\n\r\nok");
    std::string reply;

    EXPECT_EQ(reader.Read(reply, "", 5000, true, false).Code(), c.code);
    EXPECT_EQ(reply, c.code == 0 ? "ok" : "");
}

const LineCase kLines[] = {
    {"LongestLine", "X-Pad: " + std::string(1022 - 7, 'a'), 0},
    {"LineOneTooLong", "X-Pad: " + std::string(1023 - 7, 'a'),
     THttpResponseReader::kIncompleteLine},
};

INSTANTIATE_TEST_SUITE_P(Lines, HttpResponseReaderLineTest, ::testing::ValuesIn(kLines),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpResponseReaderTest, ResponseArrivingOneByteAtATimeIsReadWhole) {
    line.Switches(TMemoryLine::A).maxReceiveChunk = 1;
    Arrive(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n3\r\nabc\r\n0\r\n\r\n");
    std::string reply;

    EXPECT_EQ(reader.Read(reply, "", 5000, true, false).Code(), 0UL);
    EXPECT_EQ(reply, "helloabc");
    EXPECT_TRUE(reader.ServerAnswered());
}

// With the connection kept, the trailer is read up to its empty line, so
// that the next response starts at its status line.
TEST_F(HttpResponseReaderTest, KeptConnectionReadsTheTrailerAndTheNextResponse) {
    Arrive(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\nX-Sum: 1\r\n\r\n"
        "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nnext");
    std::string reply;

    EXPECT_EQ(reader.Read(reply, "", 5000, false, true).Code(), 0UL);
    EXPECT_EQ(reply, "ok");
    EXPECT_TRUE(reader.ConnectionReusable());
    EXPECT_EQ(reader.Read(reply, "", 5000, false, true).Code(), 0UL);
    EXPECT_EQ(reply, "next");
}

TEST_F(HttpResponseReaderTest, TrailerThatNeverEndsLeavesTheConnectionUnusable) {
    Arrive("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\nX-Sum: 1\r\n");
    std::string reply;

    EXPECT_EQ(reader.Read(reply, "", 5000, false, true).Code(), 0UL);
    EXPECT_EQ(reply, "ok");
    EXPECT_FALSE(reader.ConnectionReusable());
}

// The stop check ends a wait with its cause: the wait for a status line that never comes, and the
// wait for the rest of a body that stopped coming, which would otherwise last until the body's
// inactivity limit: a program asked to stop must not hang on a server gone quiet.
TEST_F(HttpResponseReaderTest, StopCheckEndsAWaitWithItsCause) {
    const struct {
        std::string arrival;
        bool answered;
    } cases[] = {
        {"", false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\npart", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arrival);
        if (!c.arrival.empty()) {
            Arrive(c.arrival);
        }
        int asked = 0;
        THttpResponseReader stoppable(connection, files, [&asked] {
            return Error(++asked < 3 ? kErrorNothingHappened : kCancelled);
        });
        std::string reply;

        EXPECT_EQ(stoppable.Read(reply, "", 5000, true, false).Code(), kCancelled);
        EXPECT_EQ(asked, 3);
        EXPECT_EQ(stoppable.ServerAnswered(), c.answered);
        EXPECT_EQ(reply, "");
    }
}

}  // namespace
