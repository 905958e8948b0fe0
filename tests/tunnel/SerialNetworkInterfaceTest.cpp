#include "tunnel/SerialNetworkInterface.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/DeviceLayer.h"
#include "platform/FileSystem.h"
#include "platform/RS232.h"
#include "platform/RS232Connection.h"
#include "support/Loopback.h"
#include "support/MemoryConnection.h"
#include "support/MemorySerialPort.h"
#include "support/PacketPeer.h"
#include "support/TempDir.h"
#include "support/TestDeviceLayer.h"
#include "support/TestSystem.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/LoopbackConnection.h"
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
        tunnel.Call(TNetworkHostParam(0x7F000001, 80, false, nullptr, nullptr), &first);
        tunnel.Listen(5000, &second);
        // Reset, call and listen on the first port; on the others the listen waits for the
        // call's acknowledgement.
        EXPECT_EQ(DataFrameCount(line.TakePending(TMemoryLine::B)), port == 1 ? 3 : 2)
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

TEST(TunnelDeviceTest, DeviceLayerMakesOneTunnelInterfacePerKindAndPort) {
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
