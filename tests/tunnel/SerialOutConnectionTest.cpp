#include "tunnel/SerialOutConnection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/LoopbackConnection.h"
#include "platform/SystemDevices.h"
#include "support/LineChunk.h"
#include "support/MemoryConnection.h"
#include "support/PacketPeer.h"
#include "support/TestSystem.h"
#include "tunnel/SerialManager.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr unsigned long kHost = 0x0A000005;  // 10.0.0.5

std::string Text(const T_BinaryData& data) {
    return std::string(reinterpret_cast<const char*>(data.GetData()), data.Length());
}

// The terminal's half of the tunnel on an in-memory line; the test plays the agent.
class TerminalHalfTest : public ::testing::Test {
  protected:
    TTestSystem system;
    TMemoryLine line;
    std::unique_ptr<TSerialManager> terminal = std::make_unique<TSerialManager>(
        NewLineStack(line.NewEnd(TMemoryLine::A)), SystemEthernet());
    TPacketPeer agent{line.NewEnd(TMemoryLine::B)};

    void SetUp() override { ASSERT_THAT(Requests(), ElementsAre("RESET 0")); }

    void Exchange() { ExchangeUntilQuiet(*terminal, agent, line); }
    std::vector<TSerialPacket> RequestPackets() {
        Exchange();
        return agent.TakePackets();
    }
    std::vector<std::string> Requests() { return Describe(RequestPackets()); }

    void Notify(const TSerialPacket& packet) {
        ASSERT_TRUE(agent.Send(packet));
        Exchange();
    }
    void Notify(unsigned char action, unsigned long socketId, unsigned long value = 0) {
        const bool isError = action == ACTION_CALL_RESULT;
        Notify(TSerialPacket(action, socketId, isError ? 0 : value, 0, isError ? value : 0));
    }

    std::unique_ptr<IConnection> Call(unsigned long socketId) {
        std::unique_ptr<IConnection> connection(
            terminal->AddCallingConnection(socketId, kHost, 443));
        EXPECT_THAT(Requests(),
                    ElementsAre("CALL " + std::to_string(socketId) + " addr=0A000005 port=443"));
        return connection;
    }
};

struct NoticeCase {
    const char* name;
    unsigned char action;
    unsigned long value;  // error of a call result, address of a connected notice
    CONNSTATE state;
    unsigned long lastError;
    unsigned long peerAddress;
};

// The case's name stands for it in test lists, where the bytes of a struct
// would change with every build.
void PrintTo(const NoticeCase& c, std::ostream* os) {
    *os << c.name;
}

class NoticeTest : public TerminalHalfTest, public ::testing::WithParamInterface<NoticeCase> {};

TEST_P(NoticeTest, StateFollowsTheAgentsNotice) {
    const NoticeCase& c = GetParam();
    const std::unique_ptr<IConnection> connection = Call(1);
    EXPECT_EQ(connection->GetState(), CONNSTATE_CONNECTING);
    Notify(c.action, 1, c.value);
    EXPECT_EQ(connection->GetState(), c.state);
    EXPECT_EQ(connection->GetLastError().Code(), c.lastError);
    EXPECT_EQ(connection->GetPeerAddress(), c.peerAddress);
}

INSTANTIATE_TEST_SUITE_P(
    Notices, NoticeTest,
    ::testing::Values(NoticeCase{"Connected", ACTION_CALL_RESULT, 0, CONNSTATE_CONNECTED, 0, 0},
                      NoticeCase{"Refused", ACTION_CALL_RESULT, 20011, CONNSTATE_DISCONNECTED,
                                 20011, 0},
                      NoticeCase{"Closed", ACTION_CLOSED, 0, CONNSTATE_DISCONNECTED, 20027, 0},
                      NoticeCase{"Accepted", ACTION_CONNECTED, 0x0100007F, CONNSTATE_CONNECTED,
                                 20027, 0x0100007F}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TerminalHalfTest, NoticeForAnotherSocketIdIsDropped) {
    const std::unique_ptr<IConnection> connection = Call(1);
    Notify(ACTION_CLOSED, 2);
    EXPECT_EQ(connection->GetState(), CONNSTATE_CONNECTING);
}

TEST_F(TerminalHalfTest, SendCutsDataIntoPacketsThatFillOnePortionEach) {
    const std::unique_ptr<IConnection> connection = Call(1);
    std::string sent(600, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<char>(i);
    }
    EXPECT_EQ(connection->Send(reinterpret_cast<const unsigned char*>(sent.data()), sent.size()),
              600);

    const std::vector<TSerialPacket> packets = RequestPackets();
    ASSERT_THAT(Describe(packets),
                ElementsAre("DATA_OUT 1 len=248", "DATA_OUT 1 len=248", "DATA_OUT 1 len=104"));
    EXPECT_EQ(Text(packets[0].GetData()) + Text(packets[1].GetData()) + Text(packets[2].GetData()),
              sent);
}

TEST_F(TerminalHalfTest, SendOfNothingSendsNothing) {
    const std::unique_ptr<IConnection> connection = Call(1);
    const unsigned char byte = 0;
    EXPECT_EQ(connection->Send(&byte, 0), 0);
    EXPECT_THAT(Requests(), IsEmpty());
}

TEST_F(TerminalHalfTest, DataReceivedBeforeTheCloseCanStillBeRead) {
    const std::unique_ptr<IConnection> connection = Call(1);
    Notify(ACTION_CALL_RESULT, 1, 0);
    Notify(TSerialPacket(ACTION_DATA_IN, 1, T_BinaryData(std::string("abc"))));
    Notify(ACTION_CLOSED, 1);

    unsigned char buffer[8] = {};
    EXPECT_EQ(connection->Receive(buffer, 2), 2);
    EXPECT_EQ(connection->Receive(buffer + 2, sizeof buffer - 2), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "abc");
    EXPECT_EQ(connection->Receive(buffer, sizeof buffer), -1);
    EXPECT_EQ(connection->Send(buffer, 1), -1);
    EXPECT_THAT(Requests(), IsEmpty());
}

TEST_F(TerminalHalfTest, ReceiveWithNothingBufferedReturnsZero) {
    const std::unique_ptr<IConnection> connection = Call(1);
    unsigned char buffer[4];
    EXPECT_EQ(connection->Receive(buffer, sizeof buffer), 0);
}

struct DeleteCase {
    const char* name;
    unsigned char notice;  // 0: none, the agent has not answered
    std::vector<std::string> requests;
};

void PrintTo(const DeleteCase& c, std::ostream* os) {
    *os << c.name;
}

class DeleteTest : public TerminalHalfTest, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeleteTest, DeletingAnOpenConnectionAsksTheAgentToClose) {
    std::unique_ptr<IConnection> connection = Call(6);
    if (GetParam().notice != 0) {
        Notify(GetParam().notice, 6);
    }
    connection.reset();
    EXPECT_EQ(Describe(RequestPackets()), GetParam().requests);
    EXPECT_FALSE(terminal->HaveSerialConnections());
}

INSTANTIATE_TEST_SUITE_P(States, DeleteTest,
                         ::testing::Values(DeleteCase{"Connecting", 0, {"CLOSE 6"}},
                                           DeleteCase{"Connected", ACTION_CONNECTED, {"CLOSE 6"}},
                                           DeleteCase{"Closed", ACTION_CLOSED, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TerminalHalfTest, ResetFromTheAgentClosesEveryConnection) {
    const std::unique_ptr<IConnection> first = Call(1);
    const std::unique_ptr<IConnection> second = Call(2);
    Notify(ACTION_CALL_RESULT, 1, 0);
    Notify(ACTION_RESET, 0);
    EXPECT_EQ(first->GetState(), CONNSTATE_DISCONNECTED);
    EXPECT_EQ(second->GetState(), CONNSTATE_DISCONNECTED);
    EXPECT_TRUE(terminal->HaveSerialConnections());  // their owners still hold them
}

TEST_F(TerminalHalfTest, SendWithTheLinkDownFailsAndClosesTheConnection) {
    const std::unique_ptr<IConnection> connection = Call(1);
    Notify(ACTION_CALL_RESULT, 1, 0);
    line.Switches(TMemoryLine::A).sendFailure = -1;
    const unsigned char byte = 'x';
    EXPECT_EQ(connection->Send(&byte, 1), -1);
    EXPECT_EQ(connection->GetState(), CONNSTATE_DISCONNECTED);
}

struct ListenCase {
    unsigned short port;
    bool loopback;
};

void PrintTo(const ListenCase& c, std::ostream* os) {
    *os << "port " << c.port;
}

class ListenTest : public TerminalHalfTest, public ::testing::WithParamInterface<ListenCase> {};

TEST_P(ListenTest, LocalPortsStayInsideTheTerminal) {
    const std::unique_ptr<IConnection> connection(
        terminal->AddListeningConnection(2, GetParam().port));
    if (GetParam().loopback) {
        EXPECT_NE(dynamic_cast<TLoopbackConnection*>(connection.get()), nullptr);
        EXPECT_EQ(connection->GetState(), CONNSTATE_LISTENING);
        EXPECT_THAT(Requests(), IsEmpty());
    } else {
        EXPECT_EQ(connection->GetState(), CONNSTATE_CONNECTING);
        EXPECT_THAT(Requests(), ElementsAre("LISTEN 2 port=" + std::to_string(GetParam().port)));
    }
}

INSTANTIATE_TEST_SUITE_P(Ports, ListenTest,
                         ::testing::Values(ListenCase{80, true}, ListenCase{4095, true},
                                           ListenCase{4096, false}, ListenCase{5000, false}),
                         [](const auto& info) { return "Port" + std::to_string(info.param.port); });

TEST_F(TerminalHalfTest, ConnectionOutlivingTheStackReportsItselfClosed) {
    std::unique_ptr<IConnection> connection = Call(1);
    Notify(ACTION_CALL_RESULT, 1, 0);
    terminal.reset();

    unsigned char buffer[4] = {'x'};
    EXPECT_EQ(connection->GetState(), CONNSTATE_DISCONNECTED);
    EXPECT_EQ(connection->Send(buffer, 1), -1);
    EXPECT_EQ(connection->Receive(buffer, sizeof buffer), -1);
    connection.reset();  // touches no manager
}

TEST_F(TerminalHalfTest, NewConnectionUnderAnIdInUseCutsTheOlderOneLoose) {
    std::unique_ptr<IConnection> older = Call(3);
    const std::unique_ptr<IConnection> newer = Call(3);
    EXPECT_EQ(older->GetState(), CONNSTATE_DISCONNECTED);

    older.reset();
    EXPECT_THAT(Requests(), IsEmpty());  // a close for id 3 would end the newer one at the agent
    Notify(ACTION_CALL_RESULT, 3, 0);
    EXPECT_EQ(newer->GetState(), CONNSTATE_CONNECTED);

    terminal.reset();  // the newer one is still known, so it is told the stack is gone
    EXPECT_EQ(newer->GetState(), CONNSTATE_DISCONNECTED);
}

TEST_F(TerminalHalfTest, WaitInterfaceReadyGivesUpAfterThreeSeconds) {
    TMemoryLine silentLine;
    TSerialManager lonely(NewLineStack(silentLine.NewEnd(TMemoryLine::A)), SystemEthernet());
    const std::uint32_t start = system.Clock().Now();
    EXPECT_FALSE(lonely.WaitInterfaceReady());
    EXPECT_GE(system.Clock().Now() - start, 3000u);
    EXPECT_LE(system.Clock().Now() - start, 3000u + system.IdleStep());
}

TEST_F(TerminalHalfTest, WaitInterfaceReadyReturnsAsSoonAsThePeerHasAnswered) {
    const std::uint32_t start = system.Clock().Now();
    EXPECT_TRUE(terminal->WaitInterfaceReady());
    EXPECT_EQ(system.Clock().Now() - start, system.IdleStep());
}

TEST_F(TerminalHalfTest, PacedStepRunsOnlyEvery75Milliseconds) {
    const std::unique_ptr<IConnection> connection = Call(1);
    system.Clock().Advance(75);
    terminal->Process();  // a step now: the next period starts here
    // Whether Process ran a step, which always reads the line.
    auto stepped = [&] {
        const unsigned long before = line.ReceiveCalls(TMemoryLine::A);
        terminal->Process();
        return line.ReceiveCalls(TMemoryLine::A) != before;
    };
    system.Clock().Advance(74);
    EXPECT_FALSE(stepped());
    system.Clock().Advance(1);
    EXPECT_TRUE(stepped());
    EXPECT_FALSE(stepped());  // the period starts again
    system.Clock().Advance(75);
    EXPECT_TRUE(stepped());

    ASSERT_TRUE(agent.Send(TSerialPacket(ACTION_CLOSED, 1, 0, 0, 0)));
    bool handled = false;
    for (int i = 0; i < 10 && !handled; ++i) {
        system.Clock().Advance(75);
        handled = terminal->Process();
    }
    EXPECT_TRUE(handled);
}

}  // namespace

namespace {

// While on, every data frame the terminal sends vanishes on the line.
void DropDataFrames(TMemoryLine& line, bool on) {
    line.Switches(TMemoryLine::A).tap = [on](std::vector<unsigned char>& chunk) {
        if (on && IsDataFrameChunk(chunk)) {
            chunk.clear();
        }
    };
}

struct LostRequestCase {
    const char* name;
    bool answeredFirst;  // the agent reported the call up before the loss
    std::string sent;    // what the application sends while the line drops data frames
};

void PrintTo(const LostRequestCase& c, std::ostream* os) {
    *os << c.name;
}

class LostRequestTest : public TerminalHalfTest,
                        public ::testing::WithParamInterface<LostRequestCase> {};

TEST_P(LostRequestTest, ALostRequestClosesTheConnectionAndTheAgentIsAskedToCloseToo) {
    const LostRequestCase& c = GetParam();
    std::unique_ptr<IConnection> connection;
    if (c.answeredFirst) {
        connection = Call(1);
        Notify(ACTION_CALL_RESULT, 1, 0);
        DropDataFrames(line, true);
        connection->Send(reinterpret_cast<const unsigned char*>(c.sent.data()), c.sent.size());
    } else {
        DropDataFrames(line, true);
        connection.reset(terminal->AddCallingConnection(1, kHost, 443));
    }
    for (int i = 1; i < TFrameLevel::kTransmissionsPerPortion; ++i) {
        system.Clock().Advance(TFrameLevel::kFrameTimeoutMs);
        terminal->ProcessContinuously();
    }
    // The close request goes out in the step that gives the request up.
    DropDataFrames(line, false);
    system.Clock().Advance(TFrameLevel::kFrameTimeoutMs);
    terminal->ProcessContinuously();
    EXPECT_EQ(connection->GetState(), CONNSTATE_DISCONNECTED);
    EXPECT_THAT(Requests(), ElementsAre("CLOSE 1"));

    Notify(ACTION_CALL_RESULT, 1, 0);  // late: the connection stays closed
    EXPECT_EQ(connection->GetState(), CONNSTATE_DISCONNECTED);
    connection.reset();
    EXPECT_THAT(Requests(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Requests, LostRequestTest,
                         ::testing::Values(LostRequestCase{"Call", false, ""},
                                           LostRequestCase{"DataOut", true, "lost"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TerminalHalfTest, DataTheAgentLostClosesEveryTunnelledConnection) {
    const std::unique_ptr<IConnection> first = Call(1);
    const std::unique_ptr<IConnection> second = Call(2);
    Notify(ACTION_CALL_RESULT, 1, 0);
    // The agent gives up a portion of data for the second connection.
    agent.Frames().SendData(
        TSerialPacket(ACTION_DATA_IN, 2, T_BinaryData(std::string("lost"))).BuildPacket());
    line.TakePending(TMemoryLine::A);
    agent.Frames().ResetLink();
    agent.Send(TSerialPacket(ACTION_DATA_IN, 2, T_BinaryData(std::string("after the gap"))));
    Exchange();

    EXPECT_EQ(first->GetState(), CONNSTATE_DISCONNECTED);
    EXPECT_EQ(second->GetState(), CONNSTATE_DISCONNECTED);
    unsigned char buffer[16];
    EXPECT_EQ(second->Receive(buffer, sizeof buffer), -1);
    EXPECT_THAT(Requests(), ::testing::UnorderedElementsAre("CLOSE 1", "CLOSE 2"));
    EXPECT_FALSE(terminal->HaveSerialConnections());
}

TEST_F(TerminalHalfTest, AnAgentThatStartsAgainIsNotALoss) {
    const std::unique_ptr<IConnection> connection = Call(1);
    Notify(ACTION_CALL_RESULT, 1, 0);
    TPacketPeer restarted(line.NewEnd(TMemoryLine::B));
    ASSERT_TRUE(restarted.Send(TSerialPacket(ACTION_RESET, 0, 0, 0, 0)));
    ExchangeUntilQuiet(*terminal, restarted, line);

    EXPECT_EQ(connection->GetState(), CONNSTATE_DISCONNECTED);
    EXPECT_THAT(Describe(restarted.TakePackets()), IsEmpty());  // no close: the reset did it
    EXPECT_TRUE(terminal->HaveSerialConnections());
}

}  // namespace
