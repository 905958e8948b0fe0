#include "platform/linux/SocketConnection.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/linux/LinFileSystem.h"
#include "platform/linux/SocketInterface.h"
#include "support/CommLog.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

// An established loopback connection: ours wrapped in the connection
// class, the peer's as a plain socket.
class SocketConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TDescriptor ours = ConnectToLoopback(m_server.port);
        ASSERT_TRUE(ours.IsOpen());
        m_peer = AcceptPeer(m_server.socket);
        ASSERT_TRUE(m_peer.IsOpen());
        m_socket = ours.Get();
        m_connection = std::make_unique<TLinEthernetConnection>(ours.Release(), true, "sock.txt",
                                                                &m_traceFiles);
        ASSERT_TRUE(WaitFor([&] { return m_connection->GetState() == CONNSTATE_CONNECTED; }));
    }

    long Send(const std::string& bytes) {
        return m_connection->Send(reinterpret_cast<const unsigned char*>(bytes.data()),
                                  bytes.size());
    }

    // The first non-zero Receive result.
    long ReceiveSomething() {
        unsigned char buffer[64];
        long result = 0;
        WaitFor([&] { return (result = m_connection->Receive(buffer, sizeof buffer)) != 0; });
        return result;
    }

    int SendBufferSize() const {
        int size = 0;
        socklen_t length = sizeof size;
        getsockopt(m_socket, SOL_SOCKET, SO_SNDBUF, &size, &length);
        return size;
    }

    TempDir m_trace;
    TLinFileSystem m_traceFiles{m_trace.Path().c_str()};
    LoopbackListener m_server = ListenOnLoopback();
    TDescriptor m_peer;
    int m_socket = -1;
    std::unique_ptr<TLinEthernetConnection> m_connection;
};

TEST_F(SocketConnectionTest, PeerClosingEndsTheConnection) {
    m_peer.Reset();
    EXPECT_EQ(ReceiveSomething(), -2);
    EXPECT_EQ(m_connection->GetState(), CONNSTATE_DISCONNECTED);
    EXPECT_EQ(m_connection->GetLastError().Code(), 20003u);
    EXPECT_LT(ReceiveSomething(), 0);
}

TEST_F(SocketConnectionTest, UrgentDataIsAnExceptionalConditionThatEndsTheConnection) {
    ASSERT_EQ(send(m_peer.Get(), "!", 1, MSG_OOB), 1);
    ASSERT_TRUE(WaitFor([&] { return m_connection->GetState() == CONNSTATE_DISCONNECTED; }));
    EXPECT_EQ(m_connection->GetLastError().Code(), 20003u);
    EXPECT_FALSE(m_connection->GetLastError().Sub());
    unsigned char buffer[8];
    EXPECT_EQ(m_connection->Receive(buffer, sizeof buffer), -1);
    m_connection.reset();
    EXPECT_THAT(CommLogEntries(m_trace.ReadFile("sock.txt")),
                ::testing::ElementsAre("Connected", "Error 0", "Error 0", "Disconnected\n"));
}

// A receive into no room at all must not read like the peer's close.
TEST_F(SocketConnectionTest, EmptyReceiveOnAReadableConnectionTakesNothing) {
    ASSERT_TRUE(SendAll(m_peer, "ab"));
    ASSERT_TRUE(WaitFor([&] {
        pollfd entry{m_socket, POLLIN, 0};
        return poll(&entry, 1, 0) == 1;
    }));
    unsigned char buffer[8];
    EXPECT_EQ(m_connection->Receive(buffer, 0), 0);
    EXPECT_EQ(m_connection->GetState(), CONNSTATE_CONNECTED);
    EXPECT_EQ(ReceiveSomething(), 2);
}

TEST_F(SocketConnectionTest, SendBufferGrowsToTheLargestBlockAndNeverShrinks) {
    const std::string large(20000, 'x');
    ASSERT_EQ(Send(large), 20000);
    // The system reports twice the size requested.
    EXPECT_EQ(SendBufferSize(), 2 * 20000);
    ASSERT_EQ(Send(std::string(100, 'y')), 100);
    EXPECT_EQ(SendBufferSize(), 2 * 20000);
    EXPECT_EQ(ReceiveExactly(m_peer, 20100), large + std::string(100, 'y'));
}

TEST_F(SocketConnectionTest, SendToAPeerThatHasGoneFailsWithoutSignal) {
    struct sigaction original {};
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &defaultAction, &original);  // a raised SIGPIPE would end the test

    m_peer.Reset();
    long result = 0;
    ASSERT_TRUE(WaitFor([&] { return (result = Send("x")) < 0; }));
    EXPECT_EQ(result, -1);
    EXPECT_EQ(m_connection->GetState(), CONNSTATE_DISCONNECTED);
    const Error error = m_connection->GetLastError();
    EXPECT_EQ(error.Code(), 20004u);
    ASSERT_TRUE(error.Sub());
    EXPECT_THAT(error.Sub()->Code(), ::testing::AnyOf(EPIPE, ECONNRESET));
    sigaction(SIGPIPE, &original, nullptr);
}

TEST_F(SocketConnectionTest, LogsEveryTransferAndTheCloseInOrder) {
    ASSERT_EQ(Send("abc"), 3);
    ASSERT_EQ(ReceiveExactly(m_peer, 3), "abc");
    ASSERT_TRUE(SendAll(m_peer, "\x01\x02"));
    ASSERT_EQ(ReceiveSomething(), 2);
    m_connection.reset();
    EXPECT_THAT(CommLogEntries(m_trace.ReadFile("sock.txt")),
                ::testing::ElementsAre("Connected", ::testing::StartsWith(">61 62 63 "),
                                       ::testing::StartsWith("<01 02 "), "Disconnected\n"));
}

// Readiness tests must work for descriptors beyond the classic 1024 limit.
// Lets the process open `count` descriptors while it lives, where the hard
// limit allows.
class DescriptorLimit {
  public:
    explicit DescriptorLimit(rlim_t count) {
        getrlimit(RLIMIT_NOFILE, &m_original);
        rlimit raised = m_original;
        if (raised.rlim_cur < count && count <= raised.rlim_max) {
            raised.rlim_cur = count;
            m_raised = setrlimit(RLIMIT_NOFILE, &raised) == 0;
        }
    }
    ~DescriptorLimit() {
        if (m_raised) {
            setrlimit(RLIMIT_NOFILE, &m_original);
        }
    }

  private:
    rlimit m_original{};
    bool m_raised = false;
};

TEST(SocketConnectionHighDescriptorTest, PollsSocketsAbove1024) {
    const DescriptorLimit limit(2048);
    std::vector<TDescriptor> filler;
    while (filler.empty() || filler.back().Get() < 1100) {
        filler.emplace_back(open("/dev/null", O_RDONLY));
        ASSERT_TRUE(filler.back().IsOpen());
    }
    TempDir trace;
    TLinFileSystem traceFiles(trace.Path().c_str());
    TLinEthernetInterface network(&traceFiles);
    LoopbackListener server = ListenOnLoopback();

    IConnection* raw = nullptr;
    ASSERT_EQ(
        network
            .Call(TNetworkHostParam(kLoopbackAddress, server.port, false, nullptr, nullptr), &raw)
            .Code(),
        0u);
    std::unique_ptr<IConnection> connection(raw);
    ASSERT_TRUE(WaitFor([&] { return connection->GetState() == CONNSTATE_CONNECTED; }));
    TDescriptor peer = AcceptPeer(server.socket);
    ASSERT_TRUE(peer.IsOpen());
    const std::string logName =
        std::filesystem::directory_iterator(trace.Path())->path().filename();
    EXPECT_GT(std::stoul(logName.substr(4, 10)), 1100u) << logName;  // "sock<descriptor>.txt"

    ASSERT_EQ(connection->Send(reinterpret_cast<const unsigned char*>("high"), 4), 4);
    EXPECT_EQ(ReceiveExactly(peer, 4), "high");
    ASSERT_TRUE(SendAll(peer, "ok"));
    unsigned char buffer[8];
    long received = 0;
    ASSERT_TRUE(
        WaitFor([&] { return (received = connection->Receive(buffer, sizeof buffer)) != 0; }));
    EXPECT_EQ(received, 2);
    peer.Reset();
    EXPECT_TRUE(WaitFor([&] { return connection->Receive(buffer, sizeof buffer) == -2; }));
}

}  // namespace
