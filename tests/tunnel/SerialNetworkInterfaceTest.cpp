#include "tunnel/SerialNetworkInterface.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/DeviceLayer.h"
#include "platform/FileSystem.h"
#include "platform/LoopbackConnection.h"
#include "platform/RS232.h"
#include "platform/TimerSource.h"
#include "platform/linux/LinDeviceLayer.h"
#include "platform/linux/LinFileSystem.h"
#include "platform/linux/RS232Connection.h"
#include "support/FakeNetworkInterface.h"
#include "support/Loopback.h"
#include "support/MemoryConnection.h"
#include "support/MemorySerialPort.h"
#include "support/PacketPeer.h"
#include "support/PseudoTerminal.h"
#include "support/TempDir.h"
#include "support/TestDeviceLayer.h"
#include "support/TestSystem.h"
#include "support/TunnelDevices.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/Slip.h"

using ::testing::ElementsAre;

namespace {

// Data frames in the bytes a port sent.
int DataFrameCount(const T_BinaryData& wire) {
    int frames = 0;
    bool frameStart = true;
    for (unsigned long i = 0; i < wire.Length(); ++i) {
        if (wire[i] == SLIP::END) {
            frameStart = true;
            continue;
        }
        frames += frameStart && wire[i] == TFrameHeader::kData ? 1 : 0;
        frameStart = false;
    }
    return frames;
}

// The tunnel interface on serial ports that are in-memory lines; the test plays the far end.
class SerialNetworkInterfaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto layer =
            std::make_unique<TTestDeviceLayer>([this](DEVICE kind, unsigned int) -> IDevice* {
                TMemorySerialPort* port = nullptr;
                if (kind == DEVICE_RS232 && m_havePort) {
                    m_port = port = new TMemorySerialPort(line);
                }
                return port;
            });
        system.SetDeviceLayer(std::move(layer));
    }

    TTestSystem system;
    TMemoryLine line;
    TMemorySerialPort* m_port = nullptr;
    bool m_havePort = true;
};

TEST_F(SerialNetworkInterfaceTest, OpenAsServiceSendsOneResetAndIsUpAtOnce) {
    TSerialNetworkInterface tunnel(2);
    EXPECT_EQ(tunnel.OpenAsService().Code(), 0u);
    EXPECT_EQ(tunnel.GetCurrentState(), 3u);

    ASSERT_TRUE(m_port->LastParams());
    const TRs232Params& params = *m_port->LastParams();
    EXPECT_EQ(params.port, 2);
    EXPECT_EQ(params.baudRate, 115200u);
    EXPECT_EQ(params.dataBits, 8);
    EXPECT_EQ(params.parity, PARITY_NONE);
    EXPECT_EQ(params.stopBits, STOPBITS_ONE);

    TPacketPeer peer(line.NewEnd(TMemoryLine::B));
    peer.Pump();
    EXPECT_THAT(Describe(peer.TakePackets()), ElementsAre("RESET 0"));
}

// A failed read leaves the line's input failed for good; the line then counts as lost, so that
// the agent opens it anew instead of stepping a stack that hears nothing.
TEST_F(SerialNetworkInterfaceTest, AFailedReadOfTheLineMarksItLost) {
    TSerialNetworkInterface tunnel(2);
    ASSERT_EQ(tunnel.OpenAsService().Code(), 0u);
    tunnel.RunOneStep();
    EXPECT_FALSE(tunnel.IsLineLost());
    line.Switches(TMemoryLine::A).receiveFailure = -1;  // the port itself still says it is up
    for (int step = 0; step < 3; ++step) {
        tunnel.RunOneStep();
    }
    EXPECT_TRUE(tunnel.IsLineLost());
}

TEST_F(SerialNetworkInterfaceTest, WithoutASerialPortNothingOpens) {
    m_havePort = false;
    TSerialNetworkInterface tunnel(2);
    IConnection* connection = nullptr;
    EXPECT_EQ(tunnel.OpenAsService().Code(), 20025u);
    EXPECT_EQ(tunnel.Open().Code(), 20025u);
    EXPECT_EQ(
        tunnel.Call(TNetworkHostParam(0x7F000001, 80, false, nullptr, nullptr), &connection).Code(),
        20011u);
    EXPECT_EQ(tunnel.Listen(5000, &connection).Code(), 20011u);
    EXPECT_EQ(connection, nullptr);
    EXPECT_EQ(tunnel.GetCurrentState(), 4u);
    tunnel.RunOneStep();  // nothing to run
}

struct SilentCase {
    const char* name;
    std::function<Error(TSerialNetworkInterface&, IConnection**)> open;
    unsigned long code;
};

// The case's name stands for it in test lists, where the bytes of a struct
// would change with every build.
void PrintTo(const SilentCase& c, std::ostream* os) {
    *os << c.name;
}

class SilentLineTest : public SerialNetworkInterfaceTest,
                       public ::testing::WithParamInterface<SilentCase> {};

TEST_P(SilentLineTest, GivesUpAfterThreeSecondsAndClosesThePort) {
    TSerialNetworkInterface tunnel(2);
    IConnection* connection = nullptr;
    const std::uint32_t start = system.Clock().Now();
    EXPECT_EQ(GetParam().open(tunnel, &connection).Code(), GetParam().code);
    const std::uint32_t waited = system.Clock().Now() - start;
    EXPECT_GE(waited, 3000u);
    EXPECT_LT(waited, 3100u);
    EXPECT_EQ(connection, nullptr);
    EXPECT_EQ(line.LiveEnds(TMemoryLine::A), 0);
    EXPECT_EQ(tunnel.GetCurrentState(), 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Opening, SilentLineTest,
    ::testing::Values(
        SilentCase{"Open", [](TSerialNetworkInterface& t, IConnection**) { return t.Open(); },
                   20025},
        SilentCase{"Call",
                   [](TSerialNetworkInterface& t, IConnection** c) {
                       return t.Call(TNetworkHostParam(0x7F000001, 80, false, nullptr, nullptr), c);
                   },
                   20011},
        SilentCase{"Listen",
                   [](TSerialNetworkInterface& t, IConnection** c) { return t.Listen(5000, c); },
                   20011}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialNetworkInterfaceTest, OnlyTheFirstPortSendsFramesWithoutWaitingForAcks) {
    for (unsigned short port : {1, 2}) {
        TSerialNetworkInterface tunnel(port);
        ASSERT_EQ(tunnel.OpenAsService().Code(), 0u);
        IConnection* first = nullptr;
        IConnection* second = nullptr;
        EXPECT_EQ(
            tunnel.Call(TNetworkHostParam(0x7F000001, 80, false, nullptr, nullptr), &first).Code(),
            0u);
        EXPECT_EQ(tunnel.Listen(5000, &second).Code(), 0u);
        // Reset, call and listen on the first port, each request twice at once; on the others
        // the call waits for the reset's acknowledgement.
        EXPECT_EQ(DataFrameCount(line.TakePending(TMemoryLine::B)), port == 1 ? 5 : 1)
            << "port " << port;
        delete first;
        delete second;
        tunnel.Close();
        line.TakePending(TMemoryLine::B);
    }
}

TEST_F(SerialNetworkInterfaceTest, SocketIdsCountFromOneAndLocalListensUseOneUp) {
    TSerialNetworkInterface tunnel(2);
    ASSERT_EQ(tunnel.OpenAsService().Code(), 0u);
    TPacketPeer peer(line.NewEnd(TMemoryLine::B));
    std::vector<std::unique_ptr<IConnection>> connections;
    auto exchange = [&] {
        for (int i = 0; i < 5; ++i) {
            peer.Pump();
            tunnel.RunOneStep();
        }
    };
    IConnection* connection = nullptr;
    const TNetworkHostParam host(0x0A000005, 443, false, nullptr, nullptr);

    ASSERT_EQ(tunnel.Call(host, &connection).Code(), 0u);
    connections.emplace_back(connection);
    exchange();
    ASSERT_EQ(tunnel.Listen(5000, &connection).Code(), 0u);
    connections.emplace_back(connection);
    exchange();
    ASSERT_EQ(tunnel.Listen(80, &connection).Code(), 0u);
    EXPECT_NE(dynamic_cast<TLoopbackConnection*>(connection), nullptr);
    connections.emplace_back(connection);
    ASSERT_EQ(tunnel.Call(host, &connection).Code(), 0u);
    connections.emplace_back(connection);
    exchange();

    EXPECT_THAT(Describe(peer.TakePackets()),
                ElementsAre("RESET 0", "CALL 1 addr=0A000005 port=443", "LISTEN 2 port=5000",
                            "CALL 4 addr=0A000005 port=443"));
}

TEST_F(SerialNetworkInterfaceTest, CloseKeepsTheStackWhileTunnelledConnectionsLive) {
    TSerialNetworkInterface tunnel(2);
    ASSERT_EQ(tunnel.OpenAsService().Code(), 0u);
    IConnection* connection = nullptr;
    ASSERT_EQ(
        tunnel.Call(TNetworkHostParam(0x7F000001, 80, false, nullptr, nullptr), &connection).Code(),
        0u);

    tunnel.Close();
    EXPECT_EQ(tunnel.GetCurrentState(), 3u);
    EXPECT_EQ(line.LiveEnds(TMemoryLine::A), 1);

    delete connection;
    tunnel.Close();
    EXPECT_EQ(tunnel.GetCurrentState(), 4u);
    EXPECT_EQ(line.LiveEnds(TMemoryLine::A), 0);
}

TEST_F(SerialNetworkInterfaceTest, EveryNameResolvesToTheLoopbackAddress) {
    TSerialNetworkInterface tunnel(2);
    for (const char* name : {"", "example.org", "10.0.0.5"}) {
        unsigned long address = 0;
        EXPECT_EQ(tunnel.ResolveAddressUsingDNS(name, &address).Code(), 0u);
        EXPECT_EQ(address, 0x7F000001u) << name;
    }
    EXPECT_EQ(tunnel.GetCurrentState(), 4u);  // no stack needed
}

TEST_F(SerialNetworkInterfaceTest, UnsupportedOperationsAnswerCode2) {
    TSerialNetworkInterface tunnel(2);
    TNetworkClientParam params;
    EXPECT_EQ(tunnel.Ping(0x7F000001).Code(), 2u);
    EXPECT_EQ(tunnel.GetSelfParams(params).Code(), 2u);
    EXPECT_EQ(tunnel.SetSelfParams(params).Code(), 2u);
    EXPECT_EQ(tunnel.GetNetworkError().Code(), 2u);
}

// Registered as the agent registers it: the device layer itself knows nothing of the tunnel.
TEST(TunnelDeviceTest, DeviceLayerMakesOneTunnelInterfacePerKindAndPort) {
    RegisterSerialTunnels();
    TTestSystem system;
    IDeviceLayer* layer = system.GetDeviceLayer();
    IDevice* usb3 = layer->GetDevice(DEVICE_USB, 3);
    EXPECT_NE(dynamic_cast<TSerialNetworkInterface*>(usb3), nullptr);
    EXPECT_EQ(layer->GetDevice(DEVICE_USB, 3), usb3);
    IDevice* com3 = layer->GetDevice(DEVICE_COM, 3);
    EXPECT_NE(dynamic_cast<TSerialNetworkInterface*>(com3), nullptr);
    EXPECT_NE(com3, usb3);
}

}  // namespace

namespace {

// The master end of a pseudo-terminal pair as a serial line that is read without waiting, so
// that only the other end's port (which waits up to 25 ms for input) paces the test.
class TNoWaitRS232Connection : public TLinRS232Connection {
  public:
    TNoWaitRS232Connection(int fd, const char* logName, IFileSystem* traceFiles)
        : TLinRS232Connection(fd, logName, traceFiles), m_fd(fd) {}

    long ReceiveData(unsigned char* buffer, unsigned long length) override {
        pollfd entry{m_fd, POLLIN, 0};
        return ::poll(&entry, 1, 0) > 0 ? ::read(m_fd, buffer, length) : 0;
    }

  private:
    int m_fd;
};

// A serial port whose connection is the master of a pseudo-terminal pair.
class TPtyMasterPort : public IRS232Interface {
  public:
    TPtyMasterPort(int masterFd, IFileSystem* traceFiles)
        : m_masterFd(masterFd), m_traceFiles(traceFiles) {}
    Error Open() override { return Error(0); }
    void Close() override {}
    Error Connect(const TRs232Params& params, IConnection** connection) override {
        const std::string logName = "CommLog" + std::to_string(params.port) + ".txt";
        *connection = new TNoWaitRS232Connection(::dup(m_masterFd), logName.c_str(), m_traceFiles);
        return Error(0);
    }

  private:
    int m_masterFd;
    IFileSystem* m_traceFiles;
};

// A TCP peer on 127.0.0.1 that sends back whatever it receives, without ever blocking.
class TEchoPeer {
  public:
    explicit TEchoPeer(TDescriptor socket) : m_socket(std::move(socket)) {}

    void Pump() {
        char buffer[65536];
        ssize_t received;
        while ((received = ::recv(m_socket.Get(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            m_pending.append(buffer, static_cast<std::size_t>(received));
        }
        while (!m_pending.empty()) {
            const ssize_t sent = ::send(m_socket.Get(), m_pending.data(), m_pending.size(),
                                        MSG_DONTWAIT | MSG_NOSIGNAL);
            if (sent <= 0) {
                break;
            }
            m_pending.erase(0, static_cast<std::size_t>(sent));
        }
    }

  private:
    TDescriptor m_socket;
    std::string m_pending;
};

std::string RandomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    std::uint32_t state = 0x2545F491;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state);
    }
    return bytes;
}

long SendText(IConnection& connection, const std::string& text) {
    return connection.Send(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// Whether the TCP peer has seen the other side close; data still arriving is skipped.
bool PeerClosed(const TDescriptor& peer) {
    char scratch[4096];
    ssize_t n;
    while ((n = ::recv(peer.Get(), scratch, sizeof scratch, MSG_DONTWAIT)) > 0) {
    }
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

// Both halves of the tunnel in one process, joined by a pseudo-terminal pair. The agent's
// interface runs on port 9, the serial port that opens "ttyS99", here a link to the slave; the
// terminal's runs on the master. The test alternates their steps, and the agent makes real TCP
// connections on 127.0.0.1.
class TwoHalvesTest : public ::testing::Test {
  protected:
    static constexpr unsigned short kAgentPort = 9;
    static constexpr unsigned short kTerminalPort = 2;
    static constexpr int kMaxRounds = 100000;

    void SetUp() override {
        system.SetDeviceLayer(
            std::make_unique<TTestDeviceLayer>([this](DEVICE kind, unsigned int index) -> IDevice* {
                if (kind == DEVICE_RS232 && index == kTerminalPort) {
                    return new TPtyMasterPort(m_pty.Master(), &m_traceFiles);
                }
                return m_realDevices.CreateDevice(kind, index);
            }));
    }
    // Rounds of two terminal steps and one agent step, until the round's second terminal step
    // reports done. That step is whatever terminalStep does: an operation of a tunnelled
    // connection (each runs a step of its own), or RunOneStep and a look at something else.
    // One terminal step reads the line and the next handles what it read, so the agent's port
    // (which waits up to 25 ms for input) mostly finds the answer waiting.
    template <class TerminalStep>
    bool Drive(TerminalStep terminalStep) {
        for (int round = 0; round < kMaxRounds; ++round) {
            terminal.RunOneStep();
            if (terminalStep()) {
                return true;
            }
            if (m_echo) {
                m_echo->Pump();
            }
            agent.RunOneStep();
        }
        return false;
    }
    template <class Condition>
    bool DriveUntil(Condition condition) {
        return Drive([&] {
            terminal.RunOneStep();
            return condition();
        });
    }

    void StartBothHalves() {
        ASSERT_EQ(agent.OpenAsService().Code(), 0u);
        ASSERT_EQ(terminal.Open().Code(), 0u);  // the agent's reset is already on the line
    }

    std::unique_ptr<IConnection> Call(std::uint16_t port) {
        IConnection* connection = nullptr;
        EXPECT_EQ(terminal
                      .Call(TNetworkHostParam(kLoopbackAddress, port, false, nullptr, nullptr),
                            &connection)
                      .Code(),
                  0u);
        return std::unique_ptr<IConnection>(connection);
    }

    // A call to a TCP peer on 127.0.0.1, established; the peer is returned through peer.
    std::unique_ptr<IConnection> Connected(TDescriptor& peer) {
        const LoopbackListener server = ListenOnLoopback();
        std::unique_ptr<IConnection> call = Call(server.port);
        EXPECT_TRUE(Drive([&] { return call->GetState() != CONNSTATE_CONNECTING; }));
        EXPECT_EQ(call->GetState(), CONNSTATE_CONNECTED);
        peer = AcceptPeer(server.socket);
        return call;
    }

    // What the connection receives until count bytes have come or it reports its end.
    std::string ReceiveAll(IConnection& connection, std::size_t count) {
        std::string received;
        Drive([&] {
            unsigned char buffer[8192];
            const long n = connection.Receive(buffer, sizeof buffer);
            if (n > 0) {
                received.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
            }
            return received.size() >= count || n < 0;
        });
        return received;
    }

    TPseudoTerminal m_pty;
    TLinFileSystem m_traceFiles{(m_pty.Directory() / "Trace").c_str()};
    TLinDeviceDebugLayer m_realDevices{&m_traceFiles};
    std::optional<TEchoPeer> m_echo;
    TTestSystem system;
    TSerialNetworkInterface agent{kAgentPort};
    TSerialNetworkInterface terminal{kTerminalPort};
};

TEST_F(TwoHalvesTest, CallCarriesHundredsOfKilobytesBothWaysIntact) {
    StartBothHalves();
    TDescriptor peer;
    const std::unique_ptr<IConnection> call = Connected(peer);
    m_echo.emplace(std::move(peer));

    const std::string payload = RandomBytes(300 * 1024);
    EXPECT_EQ(SendText(*call, payload), static_cast<long>(payload.size()));
    const std::string echoed = ReceiveAll(*call, payload.size());
    EXPECT_EQ(echoed.size(), payload.size());
    EXPECT_TRUE(echoed == payload);
}

// In stream mode a step of the agent hands the line no more than a few portions, however much
// waits: the loop keeps hearing the terminal and the network. The download still arrives whole.
TEST_F(TwoHalvesTest, StreamModeStepsWriteAFewPortionsAndADownloadArrivesWhole) {
    agent.SetStreamMode(true);
    terminal.SetStreamMode(true);
    StartBothHalves();
    TDescriptor peer;
    const std::unique_ptr<IConnection> call = Connected(peer);
    const std::string download = RandomBytes(64 * 1024);
    ASSERT_TRUE(SendAll(peer, download));
    // The terminal takes nothing meanwhile; what the agent wrote waits on the line.
    int waiting = 0;
    for (int step = 0; step < 1000 && waiting == 0; ++step) {
        agent.RunOneStep();
        ASSERT_EQ(::ioctl(m_pty.Master(), FIONREAD, &waiting), 0);
    }
    ASSERT_GT(waiting, 0);
    for (int step = 0; step < 20; ++step) {
        agent.RunOneStep();
    }
    ASSERT_EQ(::ioctl(m_pty.Master(), FIONREAD, &waiting), 0);
    // Doubled ENDs and every byte stuffed, at worst.
    const int portionOnLine = 2 * (5 + static_cast<int>(TFrameLevel::kPortionSize) + 4);
    EXPECT_LE(waiting, static_cast<int>(TFrameLevel::kStreamWindow) * portionOnLine);

    const std::string received = ReceiveAll(*call, download.size());
    EXPECT_EQ(received.size(), download.size());
    EXPECT_TRUE(received == download);
}

TEST_F(TwoHalvesTest, ListenAcceptsAConnectionMadeOnThePc) {
    StartBothHalves();
    const std::uint16_t port = FreeLoopbackPort();
    ASSERT_GE(port, 4096);
    IConnection* raw = nullptr;
    ASSERT_EQ(terminal.Listen(port, &raw).Code(), 0u);
    const std::unique_ptr<IConnection> listening(raw);

    TDescriptor client;
    ASSERT_TRUE(DriveUntil([&] {
        client = ConnectToLoopback(port);  // refused until the agent listens
        return client.IsOpen();
    }));
    ASSERT_TRUE(Drive([&] { return listening->GetState() == CONNSTATE_CONNECTED; }));
    EXPECT_EQ(listening->GetPeerAddress(), 0x0100007Fu);  // the socket layer's byte order

    ASSERT_TRUE(SendAll(client, "from the PC"));
    EXPECT_EQ(ReceiveAll(*listening, 11), "from the PC");
    EXPECT_EQ(SendText(*listening, "from the terminal"), 17);
    std::string received;
    ASSERT_TRUE(DriveUntil([&] {
        char buffer[64];
        const ssize_t n = ::recv(client.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
        received.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        return received.size() >= 17;
    }));
    EXPECT_EQ(received, "from the terminal");
}

TEST_F(TwoHalvesTest, EitherSideCanClose) {
    StartBothHalves();
    TDescriptor closedByTerminal;
    std::unique_ptr<IConnection> first = Connected(closedByTerminal);
    TDescriptor closedByPeer;
    const std::unique_ptr<IConnection> second = Connected(closedByPeer);

    first.reset();
    EXPECT_TRUE(DriveUntil([&] { return PeerClosed(closedByTerminal); }));

    ASSERT_TRUE(SendAll(closedByPeer, "bye"));
    closedByPeer.Reset();
    EXPECT_EQ(ReceiveAll(*second, 4), "bye");  // then the end
    EXPECT_EQ(second->GetState(), CONNSTATE_DISCONNECTED);
}

TEST_F(TwoHalvesTest, AgentRestartClosesTheTerminalsConnections) {
    StartBothHalves();
    TDescriptor peer;
    const std::unique_ptr<IConnection> call = Connected(peer);

    agent.Close();
    EXPECT_EQ(agent.GetCurrentState(), 4u);
    EXPECT_TRUE(PeerClosed(peer));  // the agent's TCP connections went with its stack
    ASSERT_EQ(agent.OpenAsService().Code(), 0u);
    EXPECT_TRUE(Drive([&] { return call->GetState() == CONNSTATE_DISCONNECTED; }));
}

TEST_F(TwoHalvesTest, TerminalRestartDropsTheAgentsConnections) {
    StartBothHalves();
    TDescriptor peer;
    const std::unique_ptr<IConnection> call = Connected(peer);

    terminal.Cleanup();
    EXPECT_EQ(call->GetState(), CONNSTATE_DISCONNECTED);  // outlived its stack
    ASSERT_EQ(terminal.OpenAsService().Code(), 0u);
    EXPECT_TRUE(DriveUntil([&] { return PeerClosed(peer); }));
}

TEST_F(TwoHalvesTest, OpenFailsAfterThreeSecondsWhenNobodyAnswers) {
    system.SetIdleStep(25);  // a round on a quiet port takes about that long
    TSerialNetworkInterface lonely(kAgentPort);
    const std::uint32_t start = system.Clock().Now();
    EXPECT_EQ(lonely.Open().Code(), 20025u);
    const std::uint32_t waited = system.Clock().Now() - start;
    EXPECT_GE(waited, 3000u);
    EXPECT_LE(waited, 3025u);
    EXPECT_EQ(lonely.GetCurrentState(), 4u);
}

// Timers on a clock of their own that moves a millisecond each time a timer reads it, and pauses
// that do not sleep, so that a loop waiting for a timer ends at once.
class TTickingTimers : public ITimerSource {
  public:
    std::unique_ptr<ITimer> CreateTimer(unsigned long milliseconds) override {
        return std::make_unique<TTimer>(m_now, milliseconds);
    }
    // No sleeping: the clock moves as the loop reads it.
    bool Pause(TWaitSet&, unsigned long) override { return false; }
    std::uint32_t Now() const { return m_now; }

  private:
    class TTimer : public TPCTimer {
      public:
        TTimer(std::uint32_t& now, unsigned long milliseconds) : m_now(now) { Setup(milliseconds); }
        unsigned long GetMsecCounter() override { return ++m_now; }

      private:
        std::uint32_t& m_now;
    };

    std::uint32_t m_now = 0;
};

// Records the calls the agent side makes, and refuses them as not supported.
class TRecordingNetwork : public TFakeNetworkInterface {
  public:
    Error Call(const TNetworkHostParam& host, IConnection** connection) override {
        calls.emplace_back(host.address, host.port);
        return TFakeNetworkInterface::Call(host, connection);
    }
    std::vector<std::pair<unsigned long, unsigned short>> calls;
};

// A tunnel built on what it is given, with no test system installed: its line comes from the
// opener, its agent side calls out on the given network, and its waits run on the given timers.
class TunnelOnGivenDevicesTest : public ::testing::Test {
  protected:
    TMemoryLine line;
    TRecordingNetwork network;
    TTickingTimers timers;
    std::optional<TRs232Params> opened;
    TSerialNetworkInterface tunnel{2,
                                   [this](const TRs232Params& params, IConnection** lineEnd) {
                                       opened = params;
                                       *lineEnd = line.NewEnd(TMemoryLine::A);
                                       return Error(0);
                                   },
                                   &network, timers};
};

TEST_F(TunnelOnGivenDevicesTest, ServesTheOpenersLineAndCallsOutOnTheGivenNetwork) {
    ASSERT_EQ(tunnel.OpenAsService().Code(), 0u);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->port, 2);
    EXPECT_EQ(opened->baudRate, 115200u);

    TPacketPeer terminal(line.NewEnd(TMemoryLine::B));
    terminal.Pump();
    ASSERT_TRUE(terminal.Send(TSerialPacket(ACTION_CALL, 7, kLoopbackAddress, 9, 0)));
    for (int round = 0; round < 5; ++round) {
        tunnel.RunOneStep();
        terminal.Pump();
    }
    EXPECT_THAT(network.calls, ElementsAre(std::make_pair(kLoopbackAddress, 9)));
    EXPECT_THAT(Describe(terminal.TakePackets()), ElementsAre("RESET 0", "CALL_RESULT 7 err=2"));
}

TEST_F(TunnelOnGivenDevicesTest, WaitsForTheLinkOnTheGivenTimers) {
    EXPECT_EQ(tunnel.Open().Code(), 20025u);  // nobody answers on the line
    // On the system's timers the wait would have ended with this clock far from three seconds.
    EXPECT_GE(timers.Now(), 3000u);
}

}  // namespace
