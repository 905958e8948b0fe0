#include "platform/linux/SocketInterface.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <filesystem>
#include <memory>

#include "platform/FileSystem.h"
#include "platform/linux/LinFileSystem.h"
#include "platform/linux/ListeningSocket.h"
#include "platform/linux/SocketConnection.h"
#include "support/CommLog.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

struct TKeepalive {
    int on = 0;
    int idle = 0;
    int interval = 0;
    int probes = 0;
    bool operator==(const TKeepalive&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TKeepalive& k) {
    return out << "on=" << k.on << " idle=" << k.idle << " interval=" << k.interval
               << " probes=" << k.probes;
}

TKeepalive KeepaliveOf(int socket) {
    TKeepalive keepalive;
    socklen_t size = sizeof(int);
    getsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &keepalive.on, &size);
    getsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &keepalive.idle, &size);
    getsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &keepalive.interval, &size);
    getsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &keepalive.probes, &size);
    return keepalive;
}

using ::testing::ElementsAre;

class SocketInterfaceTest : public ::testing::Test {
  protected:
    std::unique_ptr<IConnection> Call(std::uint16_t port, Error* result = nullptr) {
        IConnection* connection = nullptr;
        const Error error = m_network.Call(
            TNetworkHostParam(kLoopbackAddress, port, false, nullptr, nullptr), &connection);
        if (result) {
            *result = error;
        }
        return std::unique_ptr<IConnection>(connection);
    }

    std::unique_ptr<IConnection> Listen(std::uint16_t port, Error* result = nullptr) {
        IConnection* connection = reinterpret_cast<IConnection*>(1);  // must be reset
        const Error error = m_network.Listen(port, &connection);
        if (result) {
            *result = error;
        }
        return std::unique_ptr<IConnection>(connection);
    }

    // Entries of the one log file the trace directory holds.
    std::vector<std::string> OnlyLog() const {
        std::vector<std::string> logs;
        for (const auto& entry : std::filesystem::directory_iterator(m_trace.Path())) {
            logs.push_back(entry.path().filename().string());
        }
        if (logs.size() != 1) {
            ADD_FAILURE() << "expected one log file, found " << logs.size();
            return {};
        }
        EXPECT_THAT(logs[0], ::testing::MatchesRegex(R"(sock[0-9]{10}\.txt)"));
        return CommLogEntries(m_trace.ReadFile(logs[0]));
    }

    TempDir m_trace;
    TLinFileSystem m_traceFiles{m_trace.Path().c_str()};
    TLinEthernetInterface m_network{&m_traceFiles};
};

// The PC's network is always up, needs no settings and resolves no names:
// callers choose their path by these codes.
TEST_F(SocketInterfaceTest, AnswersOfANetworkThatIsAlwaysThere) {
    EXPECT_EQ(m_network.Open().Code(), 0u);
    EXPECT_EQ(m_network.GetCurrentState(), 3u);
    EXPECT_EQ(m_network.GetNetworkError().Code(), 0u);
    TNetworkClientParam params;
    EXPECT_EQ(m_network.SetSelfParams(params).Code(), 0u);
    EXPECT_EQ(m_network.GetSelfParams(params).Code(), 2u);
    EXPECT_EQ(m_network.Ping(kLoopbackAddress).Code(), 2u);
    unsigned long address = 0x12345678;
    EXPECT_EQ(m_network.ResolveAddressUsingDNS("localhost", &address).Code(), 2u);
    EXPECT_EQ(address, 0x12345678u);
}

TEST_F(SocketInterfaceTest, CallConnectsInTheBackgroundAndLogsTheTraffic) {
    LoopbackListener server = ListenOnLoopback();
    Error result;
    std::unique_ptr<IConnection> connection = Call(server.port, &result);
    ASSERT_EQ(result.Code(), 0u);
    ASSERT_TRUE(connection);
    EXPECT_TRUE(std::filesystem::is_empty(m_trace.Path()));  // nothing logged before it is up

    ASSERT_TRUE(WaitFor([&] { return connection->GetState() == CONNSTATE_CONNECTED; }));
    EXPECT_EQ(connection->GetPeerAddress(), 0u);
    TDescriptor peer = AcceptPeer(server.socket);
    ASSERT_TRUE(peer.IsOpen());

    EXPECT_EQ(connection->Send(reinterpret_cast<const unsigned char*>("ping"), 4), 4);
    EXPECT_EQ(ReceiveExactly(peer, 4), "ping");
    ASSERT_TRUE(SendAll(peer, "pong"));
    unsigned char buffer[16] = {};
    long received = 0;
    ASSERT_TRUE(
        WaitFor([&] { return (received = connection->Receive(buffer, sizeof buffer)) != 0; }));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), received), "pong");

    connection.reset();
    EXPECT_EQ(ReceiveExactly(peer, 1), "");  // the socket is closed
    EXPECT_THAT(OnlyLog(), ElementsAre("Connected", ::testing::StartsWith(">70 69 6E 67 "),
                                       ::testing::StartsWith("<70 6F 6E 67 "), "Disconnected\n"));
}

TEST_F(SocketInterfaceTest, RefusedConnectFailsTheCallInsteadOfReportingItConnected) {
    // A bound socket that does not listen holds a port on which connects are refused.
    TDescriptor holder(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopbackAddress);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(holder.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(holder.Get(), reinterpret_cast<sockaddr*>(&address), &size), 0);

    Error result;
    std::unique_ptr<IConnection> connection = Call(ntohs(address.sin_port), &result);
    ASSERT_EQ(result.Code(), 0u);
    // The refused socket turns writable as if connected; the call must still fail.
    ASSERT_TRUE(WaitFor([&] { return connection->GetState() != CONNSTATE_CONNECTING; }));
    EXPECT_EQ(connection->GetState(), CONNSTATE_DISCONNECTED);
    const Error error = connection->GetLastError();
    EXPECT_EQ(error.Code(), 20001u);
    ASSERT_TRUE(error.Sub());
    EXPECT_EQ(error.Sub()->Code(), static_cast<unsigned long>(ECONNREFUSED));
}

TEST_F(SocketInterfaceTest, TwoListensOnOnePortShareTheListeningSocket) {
    const std::uint16_t port = FreeLoopbackPort();
    Error first;
    Error second;
    std::unique_ptr<IConnection> a = Listen(port, &first);
    std::unique_ptr<IConnection> b = Listen(port, &second);
    ASSERT_EQ(first.Code(), 0u);
    ASSERT_EQ(second.Code(), 0u);  // a second bind of the port would have failed
    EXPECT_EQ(a->GetState(), CONNSTATE_LISTENING);
    EXPECT_EQ(b->GetState(), CONNSTATE_LISTENING);

    TDescriptor peer = ConnectToLoopback(port);
    ASSERT_TRUE(peer.IsOpen());
    ASSERT_TRUE(WaitFor([&] { return a->GetState() == CONNSTATE_CONNECTED; }));
    EXPECT_EQ(b->GetState(), CONNSTATE_LISTENING);
    // As the socket layer stores it: the first octet in the lowest byte.
    EXPECT_EQ(a->GetPeerAddress(), inet_addr("127.0.0.1"));

    ASSERT_TRUE(SendAll(peer, "hi"));
    unsigned char buffer[8];
    long received = 0;
    ASSERT_TRUE(WaitFor([&] { return (received = a->Receive(buffer, sizeof buffer)) != 0; }));
    EXPECT_EQ(received, 2);

    TDescriptor secondPeer = ConnectToLoopback(port);
    ASSERT_TRUE(WaitFor([&] { return b->GetState() == CONNSTATE_CONNECTED; }));
    EXPECT_THAT(OnlyLog(), ElementsAre("Connected127.0.0.1", ::testing::StartsWith("<68 69 "),
                                       "Connected127.0.0.1"));
}

TEST_F(SocketInterfaceTest, ListenOnAPortHeldElsewhereFails) {
    LoopbackListener other = ListenOnLoopback();
    IConnection* connection = nullptr;
    errno = 0;
    const Error result = m_network.Listen(other.port, &connection);
    EXPECT_EQ(errno, EADDRINUSE);  // the reason, for a message
    EXPECT_EQ(result.Code(), 20008u);
    EXPECT_FALSE(result.Sub());
    EXPECT_EQ(connection, nullptr);
    delete connection;
}

// A port is open exactly while a connection made by Listen for it waits
// for a peer: each listen takes one connection, and the port refuses further
// peers from the moment the last waiting listen has accepted or gone.
TEST_F(SocketInterfaceTest, ListeningSocketLivesWhileAListenWaits) {
    const std::uint16_t port = FreeLoopbackPort();
    std::unique_ptr<IConnection> first = Listen(port);
    std::unique_ptr<IConnection> second = Listen(port);
    ASSERT_TRUE(first && second);
    TDescriptor peer = ConnectToLoopback(port);
    ASSERT_TRUE(peer.IsOpen());
    ASSERT_TRUE(WaitFor([&] { return first->GetState() == CONNSTATE_CONNECTED; }));

    // The second listen still waits: the port stays open, and shares the socket.
    std::unique_ptr<IConnection> third = Listen(port);
    ASSERT_TRUE(third);
    second.reset();
    TDescriptor next = ConnectToLoopback(port);
    EXPECT_TRUE(next.IsOpen());
    EXPECT_TRUE(WaitFor([&] { return third->GetState() == CONNSTATE_CONNECTED; }))
        << "a second socket was made for the port instead of sharing the open one";

    // Both listens have their peer: a third peer is refused, although the
    // accepted connections live on.
    EXPECT_FALSE(ConnectToLoopback(port).IsOpen()) << "the port still listens";
    EXPECT_EQ(first->GetState(), CONNSTATE_CONNECTED);
    // A new listen opens the port again, and a peer of before is not handed to it.
    std::unique_ptr<IConnection> again = Listen(port);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->GetState(), CONNSTATE_LISTENING);
    EXPECT_TRUE(ConnectToLoopback(port).IsOpen());
}

// A server that listens again after each connection holds its port open in
// between: peers that come meanwhile wait in the backlog, none is refused.
TEST_F(SocketInterfaceTest, AHeldPortStaysOpenBetweenListens) {
    const std::uint16_t port = FreeLoopbackPort();
    std::shared_ptr<TListeningSocket> held = m_network.GetListeningSocket(port);
    std::unique_ptr<IConnection> first = Listen(port);
    ASSERT_TRUE(first);
    TDescriptor a = ConnectToLoopback(port);
    ASSERT_TRUE(WaitFor([&] { return first->GetState() == CONNSTATE_CONNECTED; }));
    TDescriptor b = ConnectToLoopback(port);
    EXPECT_TRUE(b.IsOpen());
    std::unique_ptr<IConnection> second = Listen(port);
    ASSERT_TRUE(second);
    EXPECT_TRUE(WaitFor([&] { return second->GetState() == CONNSTATE_CONNECTED; }));

    held.reset();
    EXPECT_FALSE(ConnectToLoopback(port).IsOpen()) << "the port outlived its holder";
}

TEST_F(SocketInterfaceTest, ListenOnPortZeroIsRefused) {
    Error result;
    std::unique_ptr<IConnection> connection = Listen(0, &result);
    EXPECT_EQ(result.Code(), 20008u);
    EXPECT_FALSE(connection);
}

bool IsCloseOnExec(int descriptor) {
    const int flags = fcntl(descriptor, F_GETFD);
    return flags >= 0 && (flags & FD_CLOEXEC) != 0;
}

int DescriptorOf(IConnection& connection) {
    auto* pollable = dynamic_cast<IPollable*>(&connection);
    return pollable != nullptr ? pollable->GetDescriptor() : -1;
}

TEST_F(SocketInterfaceTest, EverySocketIsCloseOnExec) {
    LoopbackListener server = ListenOnLoopback();
    std::unique_ptr<IConnection> call = Call(server.port);
    ASSERT_TRUE(call);
    EXPECT_TRUE(IsCloseOnExec(DescriptorOf(*call))) << "call";

    const std::uint16_t port = FreeLoopbackPort();
    std::unique_ptr<IConnection> listen = Listen(port);
    ASSERT_TRUE(listen);
    EXPECT_TRUE(IsCloseOnExec(DescriptorOf(*listen))) << "listening socket";
    TDescriptor peer = ConnectToLoopback(port);
    ASSERT_TRUE(WaitFor([&] { return listen->GetState() == CONNSTATE_CONNECTED; }));
    EXPECT_TRUE(IsCloseOnExec(DescriptorOf(*listen))) << "accepted socket";
}

TEST_F(SocketInterfaceTest, ListeningConnectionThatFailsLeavesTheListeningSocketOpen) {
    const std::uint16_t port = FreeLoopbackPort();
    std::unique_ptr<IConnection> failing = Listen(port);
    std::unique_ptr<IConnection> other = Listen(port);
    TDescriptor peer = ConnectToLoopback(port);
    ASSERT_TRUE(peer.IsOpen());
    // Reading a listening socket fails; the connection ends before it accepted.
    unsigned char buffer[8];
    long result = 0;
    ASSERT_TRUE(WaitFor([&] { return (result = failing->Receive(buffer, sizeof buffer)) != 0; }));
    EXPECT_LT(result, 0);
    EXPECT_EQ(failing->GetState(), CONNSTATE_DISCONNECTED);
    failing.reset();

    // The port's other listen takes the waiting peer.
    EXPECT_TRUE(WaitFor([&] { return other->GetState() == CONNSTATE_CONNECTED; }));
}

// A peer that vanished without a word is noticed in minutes: every socket of
// a call probes when idle, and so does every peer accepted on a listening
// socket (which passes its options on to what it accepts).
TEST_F(SocketInterfaceTest, CallsAndAcceptedPeersProbeAnIdlePeer) {
    const TKeepalive expected{1, TSocketInterface::kKeepaliveIdleSec,
                              TSocketInterface::kKeepaliveIntervalSec,
                              TSocketInterface::kKeepaliveProbes};
    EXPECT_LE(expected.idle + expected.interval * expected.probes, 180);

    TDescriptor callSocket(static_cast<int>(m_network.CreateNonblockingSocket()));
    ASSERT_TRUE(callSocket.IsOpen());
    EXPECT_EQ(KeepaliveOf(callSocket.Get()), expected) << "call";

    const std::uint16_t port = FreeLoopbackPort();
    const std::shared_ptr<TListeningSocket> listening = m_network.GetListeningSocket(port);
    ASSERT_TRUE(listening);
    TDescriptor peer = ConnectToLoopback(port);
    ASSERT_TRUE(peer.IsOpen());
    TDescriptor accepted(accept(listening->Descriptor(), nullptr, nullptr));
    ASSERT_TRUE(accepted.IsOpen());
    EXPECT_EQ(KeepaliveOf(accepted.Get()), expected) << "accepted peer";
}

}  // namespace
