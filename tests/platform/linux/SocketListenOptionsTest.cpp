// What the socket interface lets its user choose for the sockets it makes
// from then on, and the mode of the sockets it accepts.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/FileSystem.h"
#include "platform/WaitSet.h"
#include "platform/linux/LinFileSystem.h"
#include "platform/linux/SocketInterface.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

// A blocking connect to address:port (address with its first octet in the
// most significant byte); whether it was accepted.
bool Connects(std::uint32_t address, std::uint16_t port) {
    TDescriptor s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    return connect(s.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
}

class SocketListenOptionsTest : public ::testing::Test {
  protected:
    std::unique_ptr<IConnection> Listen(std::uint16_t port) {
        IConnection* connection = nullptr;
        EXPECT_EQ(m_network.Listen(port, &connection).Code(), 0u);
        return std::unique_ptr<IConnection>(connection);
    }

    TempDir m_trace;
    TLinFileSystem m_traceFiles{m_trace.Path().c_str()};
    TLinEthernetInterface m_network{&m_traceFiles};
};

// A peer that stops reading must not hold the caller inside a send: an
// accepted socket takes what fits and returns.
TEST_F(SocketListenOptionsTest, AcceptedPeersNeverBlock) {
    const std::uint16_t port = FreeLoopbackPort();
    std::unique_ptr<IConnection> connection = Listen(port);
    TDescriptor peer = ConnectToLoopback(port);
    ASSERT_TRUE(peer.IsOpen());
    ASSERT_TRUE(WaitFor([&] { return connection->GetState() == CONNSTATE_CONNECTED; }));

    const int descriptor = dynamic_cast<IPollable&>(*connection).GetDescriptor();
    ASSERT_NE(fcntl(descriptor, F_GETFL) & O_NONBLOCK, 0) << "a send would wait for the peer";
    const std::string block(32 * 1024 * 1024, 'x');
    const long taken =
        connection->Send(reinterpret_cast<const unsigned char*>(block.data()), block.size());
    EXPECT_GT(taken, 0);
    EXPECT_LT(taken, static_cast<long>(block.size())) << "the peer reads nothing";
}

TEST_F(SocketListenOptionsTest, ListeningSocketsAreBoundToTheChosenAddress) {
    constexpr std::uint32_t kOther = 0x7F000002;  // 127.0.0.2, also this machine
    const std::uint16_t anyPort = FreeLoopbackPort();
    std::unique_ptr<IConnection> any = Listen(anyPort);
    EXPECT_TRUE(Connects(kLoopbackAddress, anyPort)) << "all local addresses by default";
    EXPECT_TRUE(Connects(kOther, anyPort));

    m_network.SetListenAddress(kOther);
    const std::uint16_t port = FreeLoopbackPort();
    std::unique_ptr<IConnection> chosen = Listen(port);
    EXPECT_TRUE(Connects(kOther, port));
    EXPECT_FALSE(Connects(kLoopbackAddress, port));
}

TEST_F(SocketListenOptionsTest, TrafficLogsAreTrimmedAtTheChosenSize) {
    constexpr unsigned long kLimit = 4096;
    m_network.SetTrafficLogLimit(kLimit);
    const std::uint16_t port = FreeLoopbackPort();
    std::unique_ptr<IConnection> connection = Listen(port);
    TDescriptor peer = ConnectToLoopback(port);
    ASSERT_TRUE(WaitFor([&] { return connection->GetState() == CONNSTATE_CONNECTED; }));

    const std::string block(1000, 'x');  // a dump of some 5 kB per send
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(WaitFor([&] {
            return connection->Send(reinterpret_cast<const unsigned char*>(block.data()),
                                    block.size()) == static_cast<long>(block.size());
        }));
        ReceiveExactly(peer, block.size());
    }
    for (const auto& entry : std::filesystem::directory_iterator(m_trace.Path())) {
        EXPECT_LT(std::filesystem::file_size(entry.path()), kLimit / 2 + 8 * block.size())
            << entry.path();
    }
}

}  // namespace
