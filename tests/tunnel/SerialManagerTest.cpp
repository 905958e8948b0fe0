#include "tunnel/SerialManager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/SystemDevices.h"
#include "platform/WaitSet.h"

#include "support/LineChunk.h"
#include "support/Loopback.h"
#include "support/MemoryConnection.h"
#include "support/PacketPeer.h"
#include "support/TestDeviceLayer.h"
#include "support/TestSystem.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/PacketInput.h"
#include "tunnel/Slip.h"

using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

std::string Text(const T_BinaryData& data) {
    return std::string(reinterpret_cast<const char*>(data.GetData()), data.Length());
}

T_BinaryData Data(const std::string& text) {
    return T_BinaryData(text);
}

// Whether the TCP peer has seen the other side close (end of stream or reset) within a second;
// data still arriving before the close is skipped.
bool PeerSeesClose(const TDescriptor& socket) {
    char scratch[4096];
    pollfd entry{socket.Get(), POLLIN, 0};
    while (::poll(&entry, 1, 1000) > 0) {
        if (::recv(socket.Get(), scratch, sizeof scratch, MSG_DONTWAIT) <= 0) {
            return true;
        }
    }
    return false;
}

// Everything the TCP peer receives until the other side closes (at most a second of silence).
std::string ReceiveUntilClose(const TDescriptor& socket) {
    std::string received;
    char block[4096];
    pollfd entry{socket.Get(), POLLIN, 0};
    while (::poll(&entry, 1, 1000) > 0) {
        const ssize_t count = ::recv(socket.Get(), block, sizeof block, MSG_DONTWAIT);
        if (count <= 0) {
            break;
        }
        received.append(block, static_cast<std::size_t>(count));
    }
    return received;
}

// The agent's half of the tunnel on an in-memory line, with the real Ethernet interface of the
// device layer making its TCP connections on 127.0.0.1; the test plays the terminal.
class AgentHalfTest : public ::testing::Test {
  protected:
    TTestSystem system;
    TMemoryLine line;
    TSerialManager agent{NewLineStack(line.NewEnd(TMemoryLine::A)), SystemEthernet()};
    TPacketPeer terminal{line.NewEnd(TMemoryLine::B)};

    void SetUp() override { ASSERT_THAT(Notices(), ElementsAre("RESET 0")); }

    void Exchange() { ExchangeUntilQuiet(agent, terminal, line); }

    std::vector<TSerialPacket> Packets() {
        Exchange();
        return terminal.TakePackets();
    }
    std::vector<std::string> Notices() { return Describe(Packets()); }

    void Request(const TSerialPacket& packet) {
        ASSERT_TRUE(terminal.Send(packet));
        Exchange();
    }
    void Call(unsigned long socketId, std::uint16_t port) {
        Request(TSerialPacket(ACTION_CALL, socketId, kLoopbackAddress, port, 0));
    }
    void DataOut(unsigned long socketId, const std::string& text) {
        Request(TSerialPacket(ACTION_DATA_OUT, socketId, Data(text)));
    }
    void Close(unsigned long socketId) { Request(TSerialPacket(ACTION_CLOSE, socketId, 0, 0, 0)); }

    // The next `count` data frames the agent sends vanish on the line.
    void DropAgentDataFrames(int count) {
        line.Switches(TMemoryLine::A).tap = [count](std::vector<unsigned char>& chunk) mutable {
            if (count > 0 && IsDataFrameChunk(chunk)) {
                chunk.clear();
                --count;
            }
        };
    }
    // Lets the frame timer run out until the agent has used up the transmissions of a portion.
    void OutlastTransmissions() {
        for (int i = 0; i < TFrameLevel::kTransmissionsPerPortion; ++i) {
            system.Clock().Advance(TFrameLevel::kFrameTimeoutMs);
            agent.ProcessContinuously();
        }
    }

    // Calls the listener under the socket id and returns the accepted TCP peer, with the call
    // result already taken off the line.
    TDescriptor Connected(unsigned long socketId, const LoopbackListener& listener) {
        Call(socketId, listener.port);
        TDescriptor peer = AcceptPeer(listener.socket);
        EXPECT_THAT(Notices(), ElementsAre("CALL_RESULT " + std::to_string(socketId) + " err=0"));
        return peer;
    }
};

TEST_F(AgentHalfTest, DataForAnUnknownSocketIsAnsweredWithClosedAlone) {
    DataOut(7, "lost");
    EXPECT_THAT(Notices(), ElementsAre("CLOSED 7"));
}

TEST_F(AgentHalfTest, CallIsReportedOnceBeforeItsDataAndRelaysBothWays) {
    const LoopbackListener listener = ListenOnLoopback();
    Call(1, listener.port);
    const TDescriptor peer = AcceptPeer(listener.socket);
    ASSERT_TRUE(peer.IsOpen());
    ASSERT_TRUE(SendAll(peer, "hello"));

    const std::vector<TSerialPacket> packets = Packets();
    ASSERT_THAT(Describe(packets), ElementsAre("CALL_RESULT 1 err=0", "DATA_IN 1 len=5"));
    EXPECT_EQ(Text(packets[1].GetData()), "hello");

    DataOut(1, "ping");
    EXPECT_EQ(ReceiveExactly(peer, 4), "ping");
    ASSERT_TRUE(SendAll(peer, "pong"));
    EXPECT_THAT(Notices(), ElementsAre("DATA_IN 1 len=4"));
}

TEST_F(AgentHalfTest, TcpDataGoesOutInPacketsThatFillOnePortionEach) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor peer = Connected(1, listener);
    // Every data frame the agent sends must carry exactly one whole packet.
    int mixedFrames = 0;
    line.Switches(TMemoryLine::A).tap = [&mixedFrames](std::vector<unsigned char>& chunk) {
        if (!IsDataFrameChunk(chunk)) {
            return;
        }
        const T_BinaryData frame = FrameOfChunk(chunk);
        T_BinaryData portion = frame.Copy(TFrameHeader::kSize, frame[2]);
        const TSerialPacket packet(portion);
        mixedFrames += packet.GetActionType() == 0 || portion.Length() != 0;
    };
    std::string sent(10000, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<char>(i * 7);
    }
    ASSERT_TRUE(SendAll(peer, sent));

    const std::vector<TSerialPacket> packets = Packets();
    // 248 data bytes and 7 of packet header make one 255-byte portion.
    for (const TSerialPacket& packet : packets) {
        EXPECT_LE(packet.GetData().Length(), 248u);
    }
    EXPECT_EQ(mixedFrames, 0);
    std::string received;
    for (const TSerialPacket& packet : packets) {
        received += Text(packet.GetData());
    }
    EXPECT_EQ(received, sent);
}

TEST_F(AgentHalfTest, ListenReportsTheAcceptedPeerAndNothingBefore) {
    const std::uint16_t port = FreeLoopbackPort();
    Request(TSerialPacket(ACTION_LISTEN, 2, 0, port, 0));
    EXPECT_THAT(Notices(), IsEmpty());

    const TDescriptor client = ConnectToLoopback(port);
    ASSERT_TRUE(client.IsOpen());
    // The socket layer's byte order: 127.0.0.1 arrives as 01 00 00 7F.
    EXPECT_THAT(Notices(), ElementsAre("CONNECTED 2 addr=0100007F port=0"));

    ASSERT_TRUE(SendAll(client, "up"));
    EXPECT_THAT(Notices(), ElementsAre("DATA_IN 2 len=2"));
}

TEST_F(AgentHalfTest, FailedListenIsReportedAsCallResult) {
    const LoopbackListener taken = ListenOnLoopback();
    Request(TSerialPacket(ACTION_LISTEN, 3, 0, taken.port, 0));
    EXPECT_THAT(Notices(), ElementsAre("CALL_RESULT 3 err=20008"));
}

TEST_F(AgentHalfTest, RefusedCallEndsInAFailureNotice) {
    Call(4, FreeLoopbackPort());
    const std::vector<std::string> notices = Notices();
    ASSERT_FALSE(notices.empty());
    // Refused at once by the connect, or noticed on the connection later.
    EXPECT_THAT(notices.back(), AnyOf("CALL_RESULT 4 err=20001", "CLOSED 4"));
}

TEST_F(AgentHalfTest, PeerCloseIsReportedAfterItsData) {
    const LoopbackListener listener = ListenOnLoopback();
    TDescriptor peer = Connected(1, listener);
    ASSERT_TRUE(SendAll(peer, "last words"));
    peer.Reset();
    EXPECT_THAT(Notices(), ElementsAre("DATA_IN 1 len=10", "CLOSED 1"));
    DataOut(1, "too late");
    EXPECT_THAT(Notices(), ElementsAre("CLOSED 1"));
}

TEST_F(AgentHalfTest, LinkDownWhileRelayingDropsTheTcpConnection) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor peer = Connected(1, listener);
    line.Switches(TMemoryLine::A).sendFailure = -1;
    ASSERT_TRUE(SendAll(peer, "nowhere to go"));

    agent.ProcessContinuously();
    EXPECT_TRUE(PeerSeesClose(peer));
}

TEST_F(AgentHalfTest, CallWithASocketIdInUseReplacesTheFirstConnection) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor first = Connected(3, listener);
    const TDescriptor second = Connected(3, listener);

    EXPECT_TRUE(PeerSeesClose(first));
    DataOut(3, "to the second");
    EXPECT_EQ(ReceiveExactly(second, 13), "to the second");
}

TEST_F(AgentHalfTest, CloseRequestDropsTheConnectionSilently) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor peer = Connected(5, listener);
    Close(5);
    EXPECT_TRUE(PeerSeesClose(peer));
    EXPECT_THAT(Notices(), IsEmpty());
    Close(6);  // unknown: nothing at all
    EXPECT_THAT(Notices(), IsEmpty());
}

TEST_F(AgentHalfTest, ResetDropsEveryConnectionWithoutNotices) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor first = Connected(1, listener);
    const TDescriptor second = Connected(2, listener);

    Request(TSerialPacket(ACTION_RESET, 0, 0, 0, 0));
    EXPECT_TRUE(PeerSeesClose(first));
    EXPECT_TRUE(PeerSeesClose(second));
    EXPECT_THAT(Notices(), IsEmpty());
}

TEST_F(AgentHalfTest, TwoClosesInOneStepAreReportedInTwoVisitsLowerIdFirst) {
    const LoopbackListener listener = ListenOnLoopback();
    TDescriptor high = Connected(9, listener);
    TDescriptor low = Connected(4, listener);
    high.Reset();
    low.Reset();
    const unsigned long closedLength = 7;

    agent.ProcessBoundConnections();
    EXPECT_EQ(agent.QueuedForLine(), closedLength);
    agent.ProcessBoundConnections();
    EXPECT_EQ(agent.QueuedForLine(), 2 * closedLength);
    // Each id's turn comes round in order; which goes first depends on whose turn it is.
    EXPECT_THAT(Notices(), UnorderedElementsAre("CLOSED 4", "CLOSED 9"));
}

TEST_F(AgentHalfTest, DataSentBeforeThePeerIsAcceptedIsDeliveredOnceItIs) {
    const std::uint16_t port = FreeLoopbackPort();
    Request(TSerialPacket(ACTION_LISTEN, 2, 0, port, 0));
    DataOut(2, "early ");
    DataOut(2, "bytes");

    const TDescriptor client = ConnectToLoopback(port);
    ASSERT_TRUE(client.IsOpen());
    EXPECT_THAT(Notices(), ElementsAre("CONNECTED 2 addr=0100007F port=0"));
    EXPECT_EQ(ReceiveExactly(client, 11), "early bytes");
}

TEST_F(AgentHalfTest, CloseRequestRightAfterDataDeliversTheDataThenCloses) {
    const LoopbackListener listener = ListenOnLoopback();
    Call(2, listener.port);
    DataOut(2, "parting gift");
    Close(2);

    const TDescriptor peer = AcceptPeer(listener.socket);
    ASSERT_TRUE(peer.IsOpen());
    EXPECT_EQ(ReceiveExactly(peer, 12), "parting gift");
    EXPECT_TRUE(PeerSeesClose(peer));
    EXPECT_THAT(Notices(), AnyOf(IsEmpty(), ElementsAre("CALL_RESULT 2 err=0")));
}

TEST_F(AgentHalfTest, ClosedListenWithoutPeerDoesNotTakeTheNextListensPeer) {
    const std::uint16_t port = FreeLoopbackPort();
    Request(TSerialPacket(ACTION_LISTEN, 2, 0, port, 0));
    DataOut(2, "for nobody");
    Close(2);
    Request(TSerialPacket(ACTION_LISTEN, 3, 0, port, 0));

    const TDescriptor client = ConnectToLoopback(port);
    ASSERT_TRUE(client.IsOpen());
    const std::vector<std::string> notices = Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].rfind("CONNECTED 3 ", 0), 0u) << notices[0];
    ASSERT_TRUE(SendAll(client, "hi"));
    EXPECT_THAT(Notices(), ElementsAre("DATA_IN 3 len=2"));
}

TEST_F(AgentHalfTest, FastTcpPeerIsReadOnlyAsFastAsTheLineDrains) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor peer = Connected(1, listener);
    std::string sent(512 * 1024, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<char>(i * 13 + i / 4096);
    }
    ASSERT_TRUE(SendAll(peer, sent));

    // One step with the terminal silent: what is read waits in the frame level, and reading stops
    // long before the half megabyte is in memory.
    agent.ProcessContinuously();
    EXPECT_GT(agent.QueuedForLine(), 0u);
    EXPECT_LT(agent.QueuedForLine(), 80u * 1024);

    std::string received;
    for (const TSerialPacket& packet : Packets()) {
        received += Text(packet.GetData());
    }
    EXPECT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent);
}

TEST_F(AgentHalfTest, PeerThatTakesNothingIsDroppedOnceTheBacklogOverflows) {
    const std::uint16_t port = FreeLoopbackPort();
    Request(TSerialPacket(ACTION_LISTEN, 2, 0, port, 0));
    const std::string block(4096, 'x');
    for (int i = 0; i < 256; ++i) {
        DataOut(2, block);
    }
    EXPECT_THAT(Notices(), IsEmpty());  // a mebibyte waits for the peer
    DataOut(2, "x");
    EXPECT_THAT(Notices(), ElementsAre("CLOSED 2"));
}

// A terminal that stops acknowledging while it goes on sending requests for unknown ids cannot
// make the agent queue without bound: one closed notice waits per id, past the bound the
// connection whose packets have waited longest is closed, and the newest notices are kept.
TEST_F(AgentHalfTest, QueueForATerminalThatDoesNotAcknowledgeStaysBounded) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor waiting = Connected(1, listener);
    const TDescriptor idle = Connected(2, listener);
    DropAgentDataFrames(true);
    ASSERT_TRUE(SendAll(waiting, "first"));  // goes out and is lost
    Exchange();
    ASSERT_TRUE(SendAll(waiting, "second"));  // waits behind it
    Exchange();

    constexpr std::uint32_t kFirstUnknown = 1000;
    constexpr std::uint32_t kUnknownIds = 4200;
    for (std::uint32_t id = kFirstUnknown; id < kFirstUnknown + kUnknownIds; ++id) {
        for (int repeat = 0; repeat < 2; ++repeat) {
            ASSERT_TRUE(terminal.Send(TSerialPacket(ACTION_DATA_OUT, id, Data("x"))));
        }
        if (id % 256 == 0) {
            Exchange();
        }
    }
    Exchange();
    EXPECT_LE(agent.QueuedForLine(), 4096u * 7u);
    EXPECT_TRUE(PeerSeesClose(waiting)) << "the connection that waited longest is still open";
    pollfd idlePeer{idle.Get(), POLLIN, 0};
    EXPECT_EQ(::poll(&idlePeer, 1, 0), 0) << "a connection with nothing queued was closed";

    DropAgentDataFrames(false);
    system.Clock().Advance(TFrameLevel::kUnrepeatedTimeoutMs);
    std::map<std::string, int> told;
    for (const std::string& notice : Notices()) {
        ++told[notice];
    }
    // The data lost on the line is given up, never sent again; nothing queued behind it follows.
    EXPECT_FALSE(told.contains("DATA_IN 1 len=5"));
    EXPECT_FALSE(told.contains("DATA_IN 1 len=6"));
    EXPECT_TRUE(told.contains("CLOSED 1"));
    EXPECT_TRUE(told.contains("CLOSED " + std::to_string(kFirstUnknown + kUnknownIds - 1)));
    EXPECT_FALSE(told.contains("CLOSED " + std::to_string(kFirstUnknown)));
    int closed = 0;
    for (const auto& [notice, count] : told) {
        EXPECT_EQ(count, 1) << notice;
        closed += notice.starts_with("CLOSED ") ? count : 0;
    }
    EXPECT_EQ(closed, 4096);
}

TEST(AgentWithoutEthernetTest, CallsAndListensAreRefusedWithNoNetworkInterface) {
    TTestSystem system;
    system.SetDeviceLayer(std::make_unique<TTestDeviceLayer>());  // hands out no devices
    TMemoryLine line;
    TSerialManager agent(NewLineStack(line.NewEnd(TMemoryLine::A)), SystemEthernet());
    TPacketPeer terminal(line.NewEnd(TMemoryLine::B));

    ASSERT_TRUE(terminal.Send(TSerialPacket(ACTION_CALL, 5, kLoopbackAddress, 80, 0)));
    ExchangeUntilQuiet(agent, terminal, line);
    ASSERT_TRUE(terminal.Send(TSerialPacket(ACTION_LISTEN, 6, 0, 5000, 0)));
    ExchangeUntilQuiet(agent, terminal, line);
    EXPECT_THAT(Describe(terminal.TakePackets()),
                ElementsAre("RESET 0", "CALL_RESULT 5 err=20011", "CALL_RESULT 6 err=20011"));
}

}  // namespace

namespace {

TEST_F(AgentHalfTest, DataTheTerminalLostClosesEveryConnectionAfterThePacketsBeforeIt) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor first = Connected(1, listener);
    const TDescriptor second = Connected(2, listener);
    // One portion ends with the front of a packet whose rest the terminal then loses.
    const T_BinaryData whole = TSerialPacket(ACTION_DATA_OUT, 1, Data("abc")).BuildPacket();
    const T_BinaryData half = TSerialPacket(ACTION_DATA_OUT, 2, Data("lost")).BuildPacket();
    ASSERT_TRUE(terminal.Frames().SendData(whole + half.Copy(0, 9)));
    Exchange();
    terminal.Frames().SendData(half.Copy(9, 2));
    line.TakePending(TMemoryLine::A);
    terminal.Frames().ResetLink();
    terminal.Send(TSerialPacket(ACTION_DATA_OUT, 2, Data("after the gap")));

    // The second close of id 2 joins the first, which still waits.
    EXPECT_THAT(Notices(), UnorderedElementsAre("CLOSED 1", "CLOSED 2"));
    EXPECT_EQ(ReceiveUntilClose(first), "abc");
    EXPECT_EQ(ReceiveUntilClose(second), "");
    EXPECT_TRUE(PeerSeesClose(second));
}

// An agent and a terminal of their own on a fresh line, for one case of a table; the terminal
// calls a listener on loopback.
struct TStackWithACall {
    TMemoryLine line;
    TSerialManager agent{NewLineStack(line.NewEnd(TMemoryLine::A)), SystemEthernet()};
    TPacketPeer terminal{line.NewEnd(TMemoryLine::B)};
    const LoopbackListener listener = ListenOnLoopback();

    void Exchange() { ExchangeUntilQuiet(agent, terminal, line); }
    // Calls the listener under socketId and returns the accepted TCP peer; the notices so far
    // are taken off the line.
    TDescriptor Call(std::uint32_t socketId) {
        terminal.Send(TSerialPacket(ACTION_CALL, socketId, kLoopbackAddress, listener.port, 0));
        Exchange();
        TDescriptor peer = AcceptPeer(listener.socket);
        Exchange();
        terminal.TakePackets();
        return peer;
    }
};

// After a gap the next portion may start inside a packet whose front and middle were lost. The
// terminal's next call, behind that tail in the same portion or in the next one soon after, is
// answered at once; nothing of the cut packet reaches TCP.
TEST_F(AgentHalfTest, ACallBehindTheTailOfALostPacketIsAnsweredAtOnce) {
    const struct {
        const char* name;
        bool callInTheSamePortion;
    } cases[] = {{"call behind the tail", true}, {"call in the next portion", false}};
    for (const auto& c : cases) {
        TStackWithACall stack;
        const TDescriptor first = stack.Call(1);

        const T_BinaryData upload =
            TSerialPacket(ACTION_DATA_OUT, 1, BinaryDataFromRepeatedByte('u', 250)).BuildPacket();
        const T_BinaryData call =
            TSerialPacket(ACTION_CALL, 2, kLoopbackAddress, stack.listener.port, 0).BuildPacket();
        stack.terminal.Frames().SendData(upload.Copy(0, 100));
        stack.Exchange();
        stack.terminal.Frames().SendData(upload.Copy(100, 100));
        stack.line.TakePending(TMemoryLine::A);  // lost: a gap in the frame numbers follows
        stack.terminal.Frames().ResetLink();
        const T_BinaryData tail = upload.Copy(200, upload.Length() - 200);
        if (c.callInTheSamePortion) {
            stack.terminal.Frames().SendData(tail + call);
        } else {
            stack.terminal.Frames().SendData(tail);
            stack.Exchange();
            system.Clock().Advance(100);
            stack.terminal.Frames().SendData(call);
        }
        stack.Exchange();
        const TDescriptor second = AcceptPeer(stack.listener.socket);
        stack.Exchange();

        std::vector<std::string> notices = Describe(stack.terminal.TakePackets());
        std::sort(notices.begin(), notices.end());
        EXPECT_THAT(notices, ElementsAre("CALL_RESULT 2 err=0", "CLOSED 1")) << c.name;
        EXPECT_TRUE(second.IsOpen()) << c.name;
        EXPECT_EQ(ReceiveUntilClose(first), "") << c.name;
    }
}

TEST_F(AgentHalfTest, ATerminalThatStartsAgainIsNotALoss) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor old = Connected(1, listener);
    const T_BinaryData half = TSerialPacket(ACTION_DATA_OUT, 1, Data("cut off")).BuildPacket();
    ASSERT_TRUE(terminal.Frames().SendData(half.Copy(0, 8)));
    Exchange();

    TPacketPeer restarted(line.NewEnd(TMemoryLine::B));
    restarted.Send(TSerialPacket(ACTION_RESET, 0, 0, 0, 0));
    restarted.Send(TSerialPacket(ACTION_CALL, 1, kLoopbackAddress, listener.port, 0));
    ExchangeUntilQuiet(agent, restarted, line);
    const TDescriptor renewed = AcceptPeer(listener.socket);
    ExchangeUntilQuiet(agent, restarted, line);

    EXPECT_THAT(Describe(restarted.TakePackets()), ElementsAre("CALL_RESULT 1 err=0"));
    EXPECT_EQ(ReceiveUntilClose(old), "");
    ASSERT_TRUE(renewed.IsOpen());
    ASSERT_TRUE(restarted.Send(TSerialPacket(ACTION_DATA_OUT, 1, Data("new"))));
    ExchangeUntilQuiet(agent, restarted, line);
    EXPECT_EQ(ReceiveExactly(renewed, 3), "new");
}

// A terminal cuts an upload short the way its link reset does: the front of a packet has
// arrived, the rest is dropped without a word and without a gap in the frame numbers, and the
// terminal goes on with a new call, or stays silent, once its 2000 ms frame timer has run out.
// A terminal that took the agent's answer just in time sends the rest after as long a pause.
TEST_F(AgentHalfTest, APacketCutShortByTheTerminalIsDroppedAndItsConnectionClosed) {
    enum class Next { kRest, kCall, kNothing };
    const struct {
        const char* name;
        unsigned long quietMs;
        Next next;
        std::vector<std::string> notices;
        std::size_t uploaded;  // bytes the first TCP peer receives
    } cases[] = {
        {"link reset, then a new call", 2000, Next::kCall, {"CALL_RESULT 2 err=0", "CLOSED 1"}, 0},
        {"link reset, then silence", TPacketInput::kPeerGaveUpMs, Next::kNothing, {"CLOSED 1"}, 0},
        {"a pause, then the rest", 2000, Next::kRest, {}, 255},
    };
    for (const auto& c : cases) {
        TStackWithACall stack;
        const TDescriptor first = stack.Call(1);

        const T_BinaryData upload =
            TSerialPacket(ACTION_DATA_OUT, 1, BinaryDataFromRepeatedByte('u', 255)).BuildPacket();
        stack.terminal.Frames().SendData(upload.Copy(0, TFrameLevel::kPortionSize));
        stack.Exchange();
        // Once the portion's ACK is no longer refreshed nor the next portion asked for, the loop
        // next wakes for the packet that waits unfinished.
        EXPECT_EQ(stack.agent.MillisecondsToNextDeadline(),
                  std::min(TFrameLevel::kNextPortionPollsMs[0], TFrameLevel::kAckRefreshesMs[0]));
        system.Clock().Advance(TFrameLevel::kAckRefreshLimitMs);
        stack.Exchange();
        EXPECT_EQ(stack.agent.MillisecondsToNextDeadline(),
                  TPacketInput::kPeerGaveUpMs - TFrameLevel::kAckRefreshLimitMs)
            << c.name;
        system.Clock().Advance(c.quietMs - TFrameLevel::kAckRefreshLimitMs);
        if (c.next == Next::kRest) {
            stack.terminal.Frames().SendData(upload.Copy(TFrameLevel::kPortionSize, 7));
        } else if (c.next == Next::kCall) {
            stack.terminal.Send(
                TSerialPacket(ACTION_CALL, 2, kLoopbackAddress, stack.listener.port, 0));
        }
        stack.Exchange();
        const TDescriptor second =
            c.next == Next::kCall ? AcceptPeer(stack.listener.socket) : TDescriptor();
        stack.Exchange();

        std::vector<std::string> notices = Describe(stack.terminal.TakePackets());
        std::sort(notices.begin(), notices.end());
        EXPECT_EQ(notices, c.notices) << c.name;
        EXPECT_EQ(ReceiveUntilClose(first), std::string(c.uploaded, 'u')) << c.name;
        EXPECT_EQ(PeerSeesClose(first), c.next != Next::kRest) << c.name;
    }
}

// A notice that the agent's frame level gives up must not leave the terminal waiting for it, nor
// holding a stream with a hole: the connection is closed and the terminal told so.
class LostNoticeTest;

struct LostNoticeCase {
    const char* name;
    // Makes the agent send one notice for socket id 1, every transmission of which vanishes: a
    // notice whose repeat changes nothing goes out kTransmissionsPerPortion times, two copies
    // each, data once.
    std::function<TDescriptor(LostNoticeTest&, const LoopbackListener&)> provoke;
};

// The case's name stands for it in test lists, where the bytes of a struct
// would change with every build.
void PrintTo(const LostNoticeCase& c, std::ostream* os) {
    *os << c.name;
}

class LostNoticeTest : public AgentHalfTest, public ::testing::WithParamInterface<LostNoticeCase> {
  public:
    using AgentHalfTest::Call;
    using AgentHalfTest::Connected;
    using AgentHalfTest::DropAgentDataFrames;
    using AgentHalfTest::Exchange;
};

// Every transmission of the notice vanishes; had the agent sent it once more, the terminal would
// see it before the close.
TEST_P(LostNoticeTest, LostNoticeEndsInAClosedNotice) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor peer = GetParam().provoke(*this, listener);
    Exchange();
    OutlastTransmissions();
    EXPECT_THAT(Notices(), ElementsAre("CLOSED 1"));
    EXPECT_TRUE(PeerSeesClose(peer));
}

INSTANTIATE_TEST_SUITE_P(
    Notices, LostNoticeTest,
    ::testing::Values(LostNoticeCase{"CallResult",
                                     [](LostNoticeTest& test, const LoopbackListener& listener) {
                                         test.DropAgentDataFrames(
                                             2 * TFrameLevel::kTransmissionsPerPortion);
                                         test.Call(1, listener.port);
                                         return AcceptPeer(listener.socket);
                                     }},
                      LostNoticeCase{"DataIn",
                                     [](LostNoticeTest& test, const LoopbackListener& listener) {
                                         TDescriptor peer = test.Connected(1, listener);
                                         test.DropAgentDataFrames(1);
                                         SendAll(peer, "hello");
                                         return peer;
                                     }},
                      LostNoticeCase{"Closed",
                                     [](LostNoticeTest& test, const LoopbackListener& listener) {
                                         TDescriptor peer = test.Connected(1, listener);
                                         test.DropAgentDataFrames(
                                             2 * TFrameLevel::kTransmissionsPerPortion);
                                         ::shutdown(peer.Get(), SHUT_WR);
                                         return peer;
                                     }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AgentHalfTest, ANoticeWaitsForAtMostOnePortionOfABusyDownload) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor busy = Connected(1, listener);
    TDescriptor quiet = Connected(2, listener);
    ASSERT_TRUE(SendAll(busy, std::string(100000, 'd')));
    agent.ProcessContinuously();  // tens of kilobytes wait now, one portion is on the line
    EXPECT_GT(agent.QueuedForLine(), 32u * 1024);
    quiet.Reset();
    agent.ProcessContinuously();

    const std::vector<std::string> notices = Notices();
    const auto closed = std::find(notices.begin(), notices.end(), "CLOSED 2");
    ASSERT_NE(closed, notices.end());
    // The portion on the line when the close came, at most one more, then the notice.
    EXPECT_LE(closed - notices.begin(), 2);
}

TEST_F(AgentHalfTest, WaitsOnEachSocketForWhatItCanDoNext) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor peer = Connected(1, listener);
    const std::uint16_t port = FreeLoopbackPort();
    Request(TSerialPacket(ACTION_LISTEN, 2, 0, port, 0));
    auto ready = [&] {
        TWaitSet waits;
        agent.AddWaits(waits);
        return waits.Wait(0);
    };
    EXPECT_FALSE(ready());  // nothing to read, nothing to write, nobody calling

    ASSERT_TRUE(SendAll(peer, "x"));
    EXPECT_TRUE(WaitFor([&] { return ready(); }, std::chrono::milliseconds(1000)));
    Exchange();
    EXPECT_FALSE(ready());

    // A backlog at its bound: the socket is not read, so its data does not wake the loop.
    ASSERT_TRUE(SendAll(peer, std::string(200000, 'y')));
    agent.ProcessContinuously();
    EXPECT_FALSE(ready());

    const TDescriptor client = ConnectToLoopback(port);
    EXPECT_TRUE(WaitFor([&] { return ready(); }, std::chrono::milliseconds(1000)));
}

}  // namespace

namespace {

// A loop with nothing to do may sleep for a second: the close of data whose answer is lost
// must not wait for its next step, or the terminal hears of it too late.
TEST_F(AgentHalfTest, TheCloseOfDataGivenUpGoesOutInTheSameStep) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor peer = Connected(1, listener);
    DropAgentDataFrames(1);
    ASSERT_TRUE(SendAll(peer, "hello"));
    ASSERT_TRUE(WaitFor([&] { return agent.ProcessContinuously(); }));
    system.Clock().Advance(TFrameLevel::kUnrepeatedTimeoutMs);
    agent.ProcessContinuously();
    terminal.Pump();
    EXPECT_THAT(Describe(terminal.TakePackets()), ElementsAre("CLOSED 1"));
}

TEST_F(AgentHalfTest, AStepSaysWhetherItMovedAnythingAndWhenTheLineNeedsTheNext) {
    const LoopbackListener listener = ListenOnLoopback();
    const TDescriptor peer = Connected(1, listener);
    // The call's ACK is refreshed and the terminal's next portion asked for, for a while; after
    // that nothing is due.
    EXPECT_EQ(agent.MillisecondsToNextDeadline(),
              std::min(TFrameLevel::kNextPortionPollsMs[0], TFrameLevel::kAckRefreshesMs[0]));
    system.Clock().Advance(TFrameLevel::kAckRefreshLimitMs);
    EXPECT_FALSE(agent.ProcessContinuously());
    EXPECT_EQ(agent.MillisecondsToNextDeadline(), TFrameLevel::kNoDeadline);

    ASSERT_TRUE(SendAll(peer, "x"));
    EXPECT_TRUE(WaitFor([&] { return agent.ProcessContinuously(); }));  // read, handed over
    // Once its answer is overdue the terminal is asked whether it read the data.
    EXPECT_GT(agent.MillisecondsToNextDeadline(), TFrameSender::kAnswerAllowanceMs);
    EXPECT_LT(agent.MillisecondsToNextDeadline(), 2 * TFrameSender::kAnswerAllowanceMs);
    system.Clock().Advance(500);
    EXPECT_EQ(agent.MillisecondsToNextDeadline(), 0u);
    terminal.Pump();
    bool moved = false;  // the line's buffer may take a step of its own to refill
    for (int step = 0; step < 3; ++step) {
        moved = agent.ProcessContinuously() || moved;
    }
    EXPECT_TRUE(moved);  // the acknowledgement came
    EXPECT_EQ(agent.MillisecondsToNextDeadline(), TFrameLevel::kNoDeadline);
    EXPECT_FALSE(agent.ProcessContinuously());
}

}  // namespace

namespace {

// Both ends start at once, the terminal's reset already waiting on the line: the agent's reset
// must go out before the answer to the terminal's. A terminal that saw its reset answered first
// would take the link as up, call, and then lose that call to the agent's reset.
TEST(StackStartTest, ANewStackSendsItsResetBeforeAnsweringWhatWaits) {
    TTestSystem system;
    TMemoryLine line;
    TPacketPeer terminal(line.NewEnd(TMemoryLine::B));
    terminal.Send(TSerialPacket(ACTION_RESET, 0, 0, 0, 0));

    TSerialManager agent(NewLineStack(line.NewEnd(TMemoryLine::A)), SystemEthernet());
    agent.ProcessContinuously();

    const T_BinaryData sent = line.TakePending(TMemoryLine::B);
    const std::string frames(reinterpret_cast<const char*>(sent.GetData()), sent.Length());
    const std::size_t reset = frames.find("\xC0\x41\x01");
    const std::size_t answer = frames.find("\xC0\x06\x01");
    ASSERT_NE(reset, std::string::npos) << "no reset sent";
    ASSERT_NE(answer, std::string::npos) << "the terminal's reset was not answered";
    EXPECT_LT(reset, answer);
}

}  // namespace
