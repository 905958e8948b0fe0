// The terminal model itself: it must behave as the field's terminals do, or every figure
// measured against it is worthless. The agent is played here by raw frames on a memory line.

#include "support/TerminalModel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/Conversions.h"
#include "support/HexBytes.h"
#include "support/MemoryConnection.h"
#include "support/TestSystem.h"
#include "tunnel/SerialPacket.h"
#include "tunnel/Slip.h"
#include "tunnel/SlipDecoder.h"

namespace {

T_BinaryData Frame(unsigned char type, unsigned char sequence, const T_BinaryData& data) {
    T_BinaryData frame(type);
    frame.AddDirectBytes(sequence, 1);
    frame.AddDirectBytes(static_cast<unsigned char>(data.Length()), 1);
    frame += data;
    return frame + BinaryDataFromMsbWord(CountCrc(frame.GetData(), frame.Length()));
}

T_BinaryData Wire(const T_BinaryData& frame) {
    T_BinaryData wire(SLIP::END);
    wire += SLIP::EscapeSpecialCharacters(frame);
    wire.AddDirectBytes(SLIP::END, 1);
    return wire;
}

// The model on end B of a memory line; the test is the agent on end A. While the model waits
// for its link, the agent acknowledges every data frame unless told to keep quiet.
class TerminalModelTest : public ::testing::Test {
  protected:
    TerminalModelTest() {
        model->SetIdle([this] { AgentIdles(); });
    }

    void AgentIdles() {
        Collect();
        system.Clock().Advance(1);
    }

    // Takes what the model sent; acknowledges its data frames when acking is on.
    void Collect() {
        const T_BinaryData wire = line.TakePending(TMemoryLine::A);
        for (unsigned long i = 0; i < wire.Length(); ++i) {
            if (!decoder.Feed(wire[i])) {
                continue;
            }
            const T_BinaryData frame = decoder.TakeFrame();
            frames.push_back(frame);
            if (frame[0] == 0x41) {
                stream += frame.Copy(3, frame[2]);
                if (acking) {
                    AgentSends(Frame(0x06, frame[1], {}));
                }
            }
        }
    }
    void AgentSends(const T_BinaryData& frame) { line.Inject(TMemoryLine::B, Wire(frame)); }
    void AgentSendsPacket(const TSerialPacket& packet) {
        AgentSends(Frame(0x41, ++agentSequence, packet.BuildPacket()));
    }
    // Calls into the model that handle what the agent sent; the agent answers in between.
    void Steps(IConnection& connection, int count = 8) {
        for (int call = 0; call < count; ++call) {
            Collect();
            connection.GetState();
        }
    }
    // The packet in the data of the last data frame the model sent.
    TSerialPacket LastFramePacket() {
        Collect();
        T_BinaryData data;
        for (const T_BinaryData& frame : frames) {
            if (frame[0] == 0x41) {
                data = frame.Copy(3, frame[2]);
            }
        }
        frames.clear();
        return TSerialPacket(data);
    }
    // Headers (type, number, length) of the frames the model sent since the last call.
    std::vector<T_BinaryData> SentHeaders() {
        Collect();
        std::vector<T_BinaryData> headers;
        for (const T_BinaryData& frame : frames) {
            headers.push_back(frame.Copy(0, 3));
        }
        frames.clear();
        return headers;
    }
    // The packets of the byte stream the model sent, as far as they are complete.
    std::vector<TSerialPacket> SentPackets() {
        Collect();
        std::vector<TSerialPacket> packets;
        for (;;) {
            TSerialPacket packet(stream);
            if (packet.GetActionType() == 0) {
                return packets;
            }
            packets.push_back(packet);
        }
    }
    // A connection that the agent has answered.
    std::unique_ptr<IConnection> Connected() {
        IConnection* made = nullptr;
        EXPECT_EQ(
            model->Call(TNetworkHostParam(kLoopbackAddress, 80, false, nullptr, nullptr), &made)
                .Code(),
            0);
        std::unique_ptr<IConnection> connection(made);
        AgentSendsPacket(TSerialPacket(ACTION_CALL_RESULT, 1, 0, 0, 0));
        // The call that refills the line's input buffer hands out nothing yet.
        connection->GetState();
        EXPECT_EQ(connection->GetState(), CONNSTATE_CONNECTED);
        SentPackets();  // reset and call
        frames.clear();
        return connection;
    }

    TTestSystem system;
    TMemoryLine line;
    std::unique_ptr<TTerminalModel> model =
        std::make_unique<TTerminalModel>([this] { return line.NewEnd(TMemoryLine::B); }, false);
    TSlipDecoder decoder;
    std::vector<T_BinaryData> frames;
    T_BinaryData stream;
    bool acking = true;
    unsigned char agentSequence = 0;
};

TEST_F(TerminalModelTest, DeliversEveryGoodDataFrameARepeatIncluded) {
    const auto connection = Connected();
    const T_BinaryData packet =
        TSerialPacket(ACTION_DATA_IN, 1, HexBytes("01 02 03 04")).BuildPacket();
    const T_BinaryData head = packet.Copy(0, 9);
    const T_BinaryData tail = packet.Copy(9, 2);
    AgentSends(Frame(0x41, 7, head));
    AgentSends(Frame(0x41, 8, tail));
    AgentSends(Frame(0x41, 8, tail));  // our ACK was lost and the agent sent the frame again
    AgentSends(Frame(0x41, 9, HexBytes("00")));  // taken too, behind the repeat
    unsigned char buffer[16];
    std::string received;
    for (int call = 0; call < 6; ++call) {
        const long count = connection->Receive(buffer, sizeof buffer);
        received.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(count));
    }
    // The repeat became the length of a packet that never completes.
    EXPECT_EQ(received, "\x01\x02\x03\x04");
    EXPECT_EQ(SentHeaders(), HexList({"06 07 00", "06 08 00", "06 08 00", "06 09 00"}));
    EXPECT_EQ(model->Counters().repeatsDelivered, 1u);

    T_BinaryData damaged = Frame(0x41, 10, HexBytes("AA"));
    damaged = damaged.Copy(0, damaged.Length() - 1) + HexBytes("00");
    AgentSends(damaged);
    Steps(*connection);
    EXPECT_EQ(SentHeaders(), HexList({"15 0A 00"}));
}

TEST_F(TerminalModelTest, PacketsOfOneSendShareThePortions) {
    const auto connection = Connected();
    std::vector<unsigned char> data(600, 0x5A);
    EXPECT_EQ(connection->Send(data.data(), data.size()), 600);
    Steps(*connection);
    // Three requests of 255, 255 and 90 bytes (262, 262 and 97 with their heads) in portions of
    // 255: the second portion ends the first request and starts the second.
    const std::vector<T_BinaryData> headers = SentHeaders();
    ASSERT_EQ(headers.size(), 3u);
    EXPECT_EQ(headers[0][2], 255);
    EXPECT_EQ(headers[1][2], 255);
    EXPECT_EQ(headers[2][2], 111);
    std::vector<unsigned long> sizes;
    for (const TSerialPacket& packet : SentPackets()) {
        EXPECT_EQ(packet.GetActionType(), ACTION_DATA_OUT);
        sizes.push_back(packet.GetData().Length());
    }
    EXPECT_EQ(sizes, (std::vector<unsigned long>{255, 255, 90}));
}

// The frame timer never brings a repeat: once it has run out with data queued, the outstanding
// portion and the queue are dropped without a word, the number goes on from where it was, and
// the connection that sends next is closed here only.
TEST_F(TerminalModelTest, TimerDropsTheQueueSilentlyAndTheNextSendClosesLocally) {
    const auto connection = Connected();
    acking = false;
    std::vector<unsigned char> data(600, 0x5A);
    EXPECT_EQ(connection->Send(data.data(), data.size()), 600);
    const std::vector<T_BinaryData> first = SentHeaders();
    ASSERT_EQ(first.size(), 1u);
    const unsigned char number = first[0][1];

    system.Clock().Advance(1999);
    unsigned char buffer[4];
    EXPECT_EQ(connection->Receive(buffer, sizeof buffer), 0);
    system.Clock().Advance(2);
    EXPECT_EQ(connection->Receive(buffer, sizeof buffer), 0);
    EXPECT_TRUE(SentHeaders().empty());  // no repeat
    EXPECT_EQ(model->Counters().timerResets, 1u);
    EXPECT_EQ(model->QueuedForLine(), 0u);

    // The next request still goes out, under the next number, but the link reads down.
    EXPECT_EQ(connection->Send(data.data(), 10), -1);
    const std::vector<T_BinaryData> after = SentHeaders();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0][1], static_cast<unsigned char>(number + 1));
    EXPECT_EQ(connection->GetState(), CONNSTATE_DISCONNECTED);
}

TEST_F(TerminalModelTest, AConnectionClosedLocallySendsNoCloseAndTheNextCallGoesOut) {
    auto connection = Connected();
    acking = false;
    std::vector<unsigned char> data(600, 0x5A);
    connection->Send(data.data(), data.size());
    system.Clock().Advance(2001);
    EXPECT_EQ(connection->Send(data.data(), 10), -1);
    const std::vector<T_BinaryData> lastSent = SentHeaders();
    ASSERT_FALSE(lastSent.empty());
    connection.reset();
    EXPECT_TRUE(SentHeaders().empty()) << "a close request was sent";

    acking = true;
    IConnection* next = nullptr;
    EXPECT_EQ(
        model->Call(TNetworkHostParam(kLoopbackAddress, 81, false, nullptr, nullptr), &next).Code(),
        0);
    const std::unique_ptr<IConnection> owned(next);
    // The call waits behind the portion still unanswered, and goes once that is answered.
    EXPECT_TRUE(SentHeaders().empty());
    AgentSends(Frame(0x06, lastSent.back()[1], {}));
    Steps(*next);
    const TSerialPacket call = LastFramePacket();
    EXPECT_EQ(call.GetActionType(), ACTION_CALL);
    EXPECT_EQ(call.GetSocketID(), 2u);
}

TEST_F(TerminalModelTest, ThirdNakResetsTheLinkAndAnAckOfAnotherNumberIsIgnored) {
    const auto connection = Connected();
    acking = false;
    const unsigned char data[3] = {1, 2, 3};
    EXPECT_EQ(connection->Send(data, 3), 3);
    const std::vector<T_BinaryData> sent = SentHeaders();
    ASSERT_EQ(sent.size(), 1u);
    const unsigned char number = sent[0][1];
    AgentSends(Frame(0x06, static_cast<unsigned char>(number - 1), {}));
    AgentSends(Frame(0x15, number, {}));
    AgentSends(Frame(0x15, number, {}));
    AgentSends(Frame(0x15, number, {}));
    Steps(*connection);
    // Two repeats after the first two refusals; the third resets the link.
    EXPECT_EQ(SentHeaders(), (std::vector<T_BinaryData>{sent[0], sent[0]}));
    EXPECT_EQ(model->Counters().otherResets, 1u);
    EXPECT_EQ(connection->Send(data, 3), -1);
}

TEST_F(TerminalModelTest, StreamModeSendsEveryPortionWithoutWaiting) {
    model = std::make_unique<TTerminalModel>([this] { return line.NewEnd(TMemoryLine::B); }, true);
    model->SetIdle([this] { AgentIdles(); });
    const auto connection = Connected();
    acking = false;
    std::vector<unsigned char> data(600, 0x5A);
    connection->Send(data.data(), data.size());
    const std::vector<T_BinaryData> headers = SentHeaders();
    ASSERT_EQ(headers.size(), 3u);
    EXPECT_EQ(headers[1][1], static_cast<unsigned char>(headers[0][1] + 1));
    EXPECT_EQ(headers[2][1], static_cast<unsigned char>(headers[0][1] + 2));
}

}  // namespace
