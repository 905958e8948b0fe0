// What the tunnel counts and lists for the agent's status: each figure moves
// for the event it names and for nothing else.

#include "tunnel/TunnelCounters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Conversions.h"
#include "platform/SystemDevices.h"
#include "support/LineChunk.h"
#include "support/Loopback.h"
#include "support/MemoryConnection.h"
#include "support/MemorySerialPort.h"
#include "support/PacketPeer.h"
#include "support/TestDeviceLayer.h"
#include "support/TestSystem.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/SerialManager.h"
#include "tunnel/SerialNetworkInterface.h"
#include "tunnel/Slip.h"

namespace {

// A frame as the peer sends it; with damaged, its check is wrong.
T_BinaryData Frame(unsigned char type, unsigned char sequence, const std::string& text,
                   bool damaged = false) {
    T_BinaryData frame(type);
    frame.AddDirectBytes(sequence, 1);
    frame.AddDirectBytes(static_cast<unsigned char>(text.size()), 1);
    frame += T_BinaryData(text);
    const auto check =
        static_cast<std::uint16_t>(CountCrc(frame.GetData(), frame.Length()) ^ (damaged ? 1 : 0));
    return frame + BinaryDataFromMsbWord(check);
}

TEST(TunnelCountersTest, FrameLevelCountsFramesNaksAndRepeatsEachWay) {
    TTestSystem system;
    TMemoryLine line;
    TFrameLevel level(new SLIP(line.NewEnd(TMemoryLine::A)), TFrameOptions::AllOff());
    SLIP peer(line.NewEnd(TMemoryLine::B));
    const auto peerSends = [&](const T_BinaryData& frame) {
        peer.SendData(frame);
        level.Process();
    };

    level.SendData(T_BinaryData("out"), TPortionTerms{1, true});  // data 1
    peerSends(Frame(TFrameHeader::kNak, 1, ""));                  // refused: sent again
    peerSends(Frame(TFrameHeader::kAck, 1, ""));
    peerSends(Frame(TFrameHeader::kData, 5, "in"));         // taken, acknowledged
    peerSends(Frame(TFrameHeader::kData, 5, "in"));         // a repeat, acknowledged
    peerSends(Frame(TFrameHeader::kData, 6, "bad", true));  // refused
    TTunnelCounters expected;
    expected.framesSent = 5;  // data 1 twice, two ACKs, a NAK
    expected.framesReceived = 5;
    expected.naksSent = 1;
    expected.naksReceived = 1;
    expected.repeatsSent = 1;
    expected.repeatsReceived = 1;
    EXPECT_EQ(level.Counters(), expected);

    // Data that stays unanswered through all its transmissions resets the link.
    level.SendData(T_BinaryData("unanswered"), TPortionTerms{2, true});
    for (int i = 0; i < TFrameLevel::kTransmissionsPerPortion; ++i) {
        system.Clock().Advance(TFrameLevel::kFrameTimeoutMs);
        level.Process();
    }
    EXPECT_FALSE(level.IsOnline());
    EXPECT_EQ(level.Counters().linkResets, 1u);
    EXPECT_EQ(level.Counters().repeatsSent, 1u + TFrameLevel::kTransmissionsPerPortion - 1);
    EXPECT_EQ(level.Counters().framesSent, 5u + TFrameLevel::kTransmissionsPerPortion);
}

// The agent's half on an in-memory line, with TCP connections on 127.0.0.1;
// the test plays the terminal.
class TunnelPacketCountersTest : public ::testing::Test {
  protected:
    TTestSystem system;
    TMemoryLine line;
    TSerialManager agent{NewLineStack(line.NewEnd(TMemoryLine::A)), SystemEthernet()};
    TPacketPeer terminal{line.NewEnd(TMemoryLine::B)};

    std::vector<std::string> Notices() {
        ExchangeUntilQuiet(agent, terminal, line);
        return Describe(terminal.TakePackets());
    }
    void Request(const TSerialPacket& packet) {
        ASSERT_TRUE(terminal.Send(packet));
        ExchangeUntilQuiet(agent, terminal, line);
    }
    std::vector<TConnectionFigures> Connections() const {
        std::vector<TConnectionFigures> connections{
            TConnectionFigures()};  // replaced, not added to
        agent.ListConnections(connections);
        return connections;
    }
    // The packet figures, without the frame figures.
    TTunnelCounters PacketCounters() const {
        TTunnelCounters counters = agent.Counters();
        counters.framesSent = counters.framesReceived = counters.naksSent = 0;
        counters.naksReceived = counters.repeatsSent = counters.repeatsReceived = 0;
        counters.linkResets = 0;
        return counters;
    }
};

TEST_F(TunnelPacketCountersTest, ConnectionsAreListedWithTheirBytesEachWay) {
    ASSERT_EQ(Notices(), std::vector<std::string>{"RESET 0"});
    EXPECT_TRUE(agent.IsOnline());
    const LoopbackListener server = ListenOnLoopback();
    const std::uint16_t listened = FreeLoopbackPort();
    Request(TSerialPacket(ACTION_CALL, 1, kLoopbackAddress, server.port, 0));
    Request(TSerialPacket(ACTION_LISTEN, 2, 0, listened, 0));
    const TDescriptor called = AcceptPeer(server.socket);
    Request(TSerialPacket(ACTION_DATA_OUT, 1, T_BinaryData("abc")));
    EXPECT_EQ(ReceiveExactly(called, 3), "abc");
    ASSERT_TRUE(SendAll(called, "hello"));
    EXPECT_EQ(Notices(), (std::vector<std::string>{"CALL_RESULT 1 err=0", "DATA_IN 1 len=5"}));

    std::vector<TConnectionFigures> connections = Connections();
    ASSERT_EQ(connections.size(), 2u);
    EXPECT_EQ(connections[0], (TConnectionFigures{.socketId = 1,
                                                  .calling = true,
                                                  .state = CONNSTATE_CONNECTED,
                                                  .address = kLoopbackAddress,
                                                  .port = server.port,
                                                  .bytesToPeer = 3,
                                                  .bytesFromPeer = 5}));
    EXPECT_EQ(connections[1],
              (TConnectionFigures{.socketId = 2, .state = CONNSTATE_LISTENING, .port = listened}));

    // The listen's peer is known once accepted; a close by the terminal takes the call away,
    // and its bytes stay in the totals.
    const TDescriptor accepted = ConnectToLoopback(listened);
    EXPECT_EQ(Notices(), std::vector<std::string>{"CONNECTED 2 addr=0100007F port=0"});
    Request(TSerialPacket(ACTION_CLOSE, 1, 0, 0, 0));
    connections = Connections();
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(connections[0].state, CONNSTATE_CONNECTED);
    EXPECT_EQ(connections[0].peerAddress, 0x0100007Fu);  // as the socket reports it
    Request(TSerialPacket(ACTION_DATA_OUT, 2, T_BinaryData("wxyz")));
    EXPECT_EQ(ReceiveExactly(accepted, 4), "wxyz");
    TTunnelCounters expected;
    expected.bytesToPeers = 3 + 4;
    expected.bytesFromPeers = 5;
    EXPECT_EQ(PacketCounters(), expected);
}

TEST_F(TunnelPacketCountersTest, RefusalsLossesBreaksAndResetsAreCounted) {
    ASSERT_EQ(Notices(), std::vector<std::string>{"RESET 0"});
    TTunnelCounters expected;
    // Refused by the filter, and by a port that is taken.
    agent.SetCallFilter([](std::uint32_t, std::uint32_t, std::uint16_t port, bool) {
        return port == 1 ? 20011UL : 0UL;
    });
    const LoopbackListener taken = ListenOnLoopback();
    Request(TSerialPacket(ACTION_CALL, 1, kLoopbackAddress, 1, 0));
    Request(TSerialPacket(ACTION_LISTEN, 2, 0, taken.port, 0));
    expected.callsRefused = 2;
    EXPECT_EQ(PacketCounters(), expected);

    // A notice the terminal never takes closes its connection.
    const LoopbackListener server = ListenOnLoopback();
    Request(TSerialPacket(ACTION_CALL, 3, kLoopbackAddress, server.port, 0));
    const TDescriptor peer = AcceptPeer(server.socket);
    Notices();
    line.Switches(TMemoryLine::A).tap = [dropped =
                                             false](std::vector<unsigned char>& chunk) mutable {
        if (!dropped && IsDataFrameChunk(chunk)) {
            chunk.clear();
            dropped = true;
        }
    };
    ASSERT_TRUE(SendAll(peer, "lost"));
    agent.ProcessContinuously();
    system.Clock().Advance(TFrameLevel::kUnrepeatedTimeoutMs);
    EXPECT_EQ(Notices(), std::vector<std::string>{"CLOSED 3"});
    expected.closesAfterLoss = 1;
    expected.bytesFromPeers = 4;  // read from the peer, then lost on the line
    EXPECT_EQ(PacketCounters(), expected);

    // Data the terminal lost closes every connection there is.
    Request(TSerialPacket(ACTION_CALL, 4, kLoopbackAddress, server.port, 0));
    Request(TSerialPacket(ACTION_CALL, 5, kLoopbackAddress, server.port, 0));
    Notices();
    terminal.Frames().SendData(TSerialPacket(ACTION_DATA_OUT, 4, T_BinaryData("x")).BuildPacket());
    line.TakePending(TMemoryLine::A);
    terminal.Frames().ResetLink();
    terminal.Send(TSerialPacket(ACTION_DATA_OUT, 5, T_BinaryData("after the gap")));
    Notices();
    expected.streamBreaks = 1;
    expected.closesAfterLoss = 3;
    EXPECT_EQ(PacketCounters(), expected);

    // A reset by the terminal closes what there is, but nothing was lost.
    Request(TSerialPacket(ACTION_CALL, 6, kLoopbackAddress, server.port, 0));
    Request(TSerialPacket(ACTION_RESET, 0, 0, 0, 0));
    expected.peerResets = 1;
    EXPECT_EQ(PacketCounters(), expected);
    EXPECT_TRUE(Connections().empty());
}

// The interface's figures run on across the stacks it builds: counts since
// the agent started, not since the port was last opened.
TEST(TunnelInterfaceCountersTest, FiguresOutliveTheStacks) {
    TTestSystem system;
    TMemoryLine line;
    system.SetDeviceLayer(std::make_unique<TTestDeviceLayer>([&line](DEVICE kind, unsigned int) {
        return kind == DEVICE_RS232 ? static_cast<IDevice*>(new TMemorySerialPort(line)) : nullptr;
    }));
    TSerialNetworkInterface tunnel(2);
    SLIP peer(line.NewEnd(TMemoryLine::B));
    EXPECT_EQ(tunnel.Counters(), TTunnelCounters());
    for (std::uint64_t cycle = 1; cycle <= 2; ++cycle) {
        ASSERT_EQ(tunnel.OpenAsService().Code(), 0u);
        EXPECT_FALSE(tunnel.IsLinkUp()) << "nothing has answered the reset";
        peer.SendData(Frame(TFrameHeader::kAck, 1, ""));
        tunnel.RunOneStep();
        EXPECT_TRUE(tunnel.IsLinkUp());
        tunnel.Close();
        EXPECT_FALSE(tunnel.IsLinkUp());
        EXPECT_EQ(tunnel.Counters().framesSent, cycle);  // each stack's reset
        EXPECT_EQ(tunnel.Counters().framesReceived, cycle);
    }
}

}  // namespace
