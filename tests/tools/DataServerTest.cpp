// The data server of the load tests, over real loopback TCP.

#include "tunnel-load/DataServer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <thread>

#include "support/Loopback.h"
#include "tunnel-load/RecordStream.h"

namespace {

// Everything the server sends until it closes, waiting at most five seconds
// for each piece.
std::string ReceiveUntilClosed(const TDescriptor& socket) {
    std::string received;
    std::string piece;
    while (!(piece = ReceiveExactly(socket, 4096)).empty()) {
        received += piece;
        if (piece.size() < 4096) {
            // ReceiveExactly returns short only when the peer closed or went quiet.
            break;
        }
    }
    return received;
}

std::string Records(std::uint64_t offset, std::size_t length) {
    std::string bytes(length, '\0');
    TRecordStream::Fill(offset, reinterpret_cast<std::uint8_t*>(bytes.data()), length);
    return bytes;
}

class DataServerTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        m_server = TDataServer::Listen(0, error);
        ASSERT_TRUE(m_server) << error;
        m_thread = std::thread([this] {
            while (!m_stop) {
                m_server->Step(10);
            }
        });
    }
    void TearDown() override {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    TDescriptor Connect() { return ConnectToLoopback(m_server->Port()); }

    std::unique_ptr<TDataServer> m_server;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(DataServerTest, DownSendsTheRecordsThenCloses) {
    TDescriptor client = Connect();
    ASSERT_TRUE(SendAll(client, "DOWN 100000\n"));
    EXPECT_EQ(ReceiveUntilClosed(client), Records(0, 100000));
}

TEST_F(DataServerTest, UpChecksEveryByteAndSaysHowFarItWasRight) {
    struct TCase {
        std::size_t announced;
        std::string upload;
        std::string answer;
    };
    std::string damaged = Records(0, 100);
    damaged[40] ^= 1;
    const TCase cases[] = {
        {20000, Records(0, 20000), "OK 20000\n"},
        {100, damaged, "BAD 40\n"},
        {100, Records(0, 100) + "more", "BAD 100\n"},
    };
    for (const TCase& c : cases) {
        TDescriptor client = Connect();
        ASSERT_TRUE(SendAll(client, "UP " + std::to_string(c.announced) + "\n" + c.upload));
        // Progress answers may come first, as the bytes arrive.
        const std::string answer = ReceiveUntilClosed(client);
        EXPECT_TRUE(answer.ends_with(c.answer)) << answer;
        EXPECT_TRUE(answer == c.answer || answer.starts_with("P ")) << answer;
    }
}

TEST_F(DataServerTest, EchoAndBadHeaders) {
    TDescriptor echo = Connect();
    ASSERT_TRUE(SendAll(echo, "ECHO\nfirst"));
    EXPECT_EQ(ReceiveExactly(echo, 5), "first");
    ASSERT_TRUE(SendAll(echo, "x"));
    EXPECT_EQ(ReceiveExactly(echo, 1), "x");

    for (const std::string& header :
         {std::string("SIDEWAYS 5\n"), std::string("DOWN many\n"), std::string(100, 'A')}) {
        TDescriptor client = Connect();
        ASSERT_TRUE(SendAll(client, header));
        EXPECT_EQ(ReceiveUntilClosed(client), "BAD header\n") << header;
    }
}

}  // namespace
