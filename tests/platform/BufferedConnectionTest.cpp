#include "platform/BufferedConnection.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/HexBytes.h"
#include "support/MemoryConnection.h"
#include "support/TestSystem.h"

namespace {

// A buffered connection over end A of a memory line; the test plays end B.
class BufferedConnectionTest : public ::testing::Test {
  protected:
    TMemoryLine line;
    TBufferedConnection buffered{line.NewEnd(TMemoryLine::A)};
    TMemoryLine::EndSwitches& inner = line.Switches(TMemoryLine::A);

    void Arrive(const char* hex) { line.Inject(TMemoryLine::A, HexBytes(hex)); }
    void Arrive(unsigned long count, unsigned char value) {
        line.Inject(TMemoryLine::A, BinaryDataFromRepeatedByte(value, count));
    }
};

TEST_F(BufferedConnectionTest, SmallReadsRefillOnceAndHandOutTheBytesAtOnce) {
    Arrive("0A 0B 0C");
    unsigned char byte = 0;
    std::vector<long> results;
    std::vector<unsigned char> bytes;
    for (int i = 0; i < 5; ++i) {
        results.push_back(buffered.Receive(&byte, 1));
        if (results.back() == 1) {
            bytes.push_back(byte);
        }
    }
    EXPECT_EQ(results, (std::vector<long>{1, 1, 1, 0, 0}));
    EXPECT_EQ(bytes, (std::vector<unsigned char>{0x0A, 0x0B, 0x0C}));
    // The first call refilled, and every call after the buffer ran dry.
    EXPECT_EQ(line.ReceiveCalls(TMemoryLine::A), 3u);
    EXPECT_FALSE(buffered.HasBufferedInput());
}

TEST_F(BufferedConnectionTest, LargeReadTakesWhatIsBufferedThenReadsDirectly) {
    Arrive(10, 0x11);
    unsigned char data[5000] = {};
    ASSERT_EQ(buffered.Receive(data, 1), 1);  // refill
    EXPECT_TRUE(buffered.HasBufferedInput());
    EXPECT_EQ(buffered.Receive(data, 100), 9);

    Arrive(5000, 0x22);
    EXPECT_EQ(buffered.Receive(data, sizeof data), 5000);
    EXPECT_EQ(data[4999], 0x22);
    EXPECT_EQ(line.ReceiveCalls(TMemoryLine::A), 2u);

    // A direct read that fails is passed on and does not fail the object.
    inner.receiveFailure = -3;
    EXPECT_EQ(buffered.Receive(data, 2048), -3);
    inner.receiveFailure = 0;
    Arrive("33");
    EXPECT_EQ(buffered.Receive(data, 1), 1);
    EXPECT_EQ(data[0], 0x33);
}

TEST_F(BufferedConnectionTest, ReadsBelowTheDirectSizeStillGoThroughTheBuffer) {
    Arrive(6000, 0x44);
    unsigned char data[2047];
    EXPECT_EQ(buffered.Receive(data, sizeof data), 2047);
    EXPECT_EQ(buffered.Receive(data, sizeof data), 2047);
    EXPECT_EQ(buffered.Receive(data, sizeof data), 2);  // the rest of the 4096 buffered
    EXPECT_EQ(buffered.Receive(data, sizeof data), 1904);
    EXPECT_EQ(buffered.Receive(data, sizeof data), 0);
}

// It also says so, even when the inner connection still reports itself up.
TEST_F(BufferedConnectionTest, FailedRefillFailsTheObjectForGoodAndItSaysSo) {
    Arrive("01 02");
    inner.receiveFailure = -2;
    unsigned char data[4096];
    EXPECT_FALSE(buffered.HasFailed());
    EXPECT_EQ(buffered.Receive(data, 1), 0);
    EXPECT_TRUE(buffered.HasFailed());
    inner.receiveFailure = 0;
    EXPECT_EQ(buffered.Receive(data, 1), -1);
    EXPECT_EQ(buffered.Receive(data, sizeof data), -1);
    buffered.FlushInputData();
    EXPECT_EQ(buffered.Receive(data, 1), -1);
    EXPECT_EQ(line.PendingCount(TMemoryLine::A), 2u);  // nothing more was read
    EXPECT_EQ(buffered.GetState(), CONNSTATE_CONNECTED);
}

TEST_F(BufferedConnectionTest, FlushDiscardsBufferedAndPendingInput) {
    Arrive("01 02 03");
    unsigned char byte = 0;
    ASSERT_EQ(buffered.Receive(&byte, 1), 1);
    Arrive("04 05");
    buffered.FlushInputData();
    EXPECT_EQ(line.PendingCount(TMemoryLine::A), 0u);
    EXPECT_FALSE(buffered.HasBufferedInput());
    EXPECT_EQ(buffered.Receive(&byte, 1), 0);

    Arrive("06");
    EXPECT_EQ(buffered.Receive(&byte, 1), 1);
    EXPECT_EQ(byte, 0x06);
}

struct SendCase {
    const char* name;
    unsigned long maxChunk;
    unsigned int zeroSends;
    int chunksBeforeFailure;  // -1: never fails
    long expected;
    unsigned long innerCalls;
    unsigned long bytesOnLine;
};

TEST_F(BufferedConnectionTest, SendInsistsUntilAllIsTakenOrTheInnerConnectionFails) {
    TTestSystem system;  // the pauses after sends that take nothing pass at once
    const SendCase cases[] = {
        {"all at once", TMemoryLine::EndSwitches::kUnlimited, 0, -1, 10, 1, 10},
        {"four per call", 4, 0, -1, 10, 3, 10},
        {"nothing taken twice", 3, 2, -1, 10, 6, 10},
        {"fails at once", 4, 0, 0, -7, 1, 0},
        {"fails after a part", 4, 0, 1, 4, 2, 4},
    };
    const T_BinaryData payload = HexBytes("00 01 02 03 04 05 06 07 08 09");
    for (const SendCase& c : cases) {
        TMemoryLine sendLine;
        TBufferedConnection connection(sendLine.NewEnd(TMemoryLine::A));
        TMemoryLine::EndSwitches& end = sendLine.Switches(TMemoryLine::A);
        end.maxSendChunk = c.maxChunk;
        end.zeroSends = c.zeroSends;
        if (c.chunksBeforeFailure == 0) {
            end.sendFailure = -7;
        } else if (c.chunksBeforeFailure > 0) {
            end.tap = [&end, left = c.chunksBeforeFailure](std::vector<unsigned char>&) mutable {
                if (--left == 0) {
                    end.sendFailure = -7;
                }
            };
        }
        EXPECT_EQ(connection.Send(payload.GetData(), payload.Length()), c.expected) << c.name;
        EXPECT_EQ(sendLine.SendCalls(TMemoryLine::A), c.innerCalls) << c.name;
        EXPECT_EQ(sendLine.TakePending(TMemoryLine::B), payload.Copy(0, c.bytesOnLine)) << c.name;
    }
}

TEST(BufferedConnectionSendStallTest, GivesUpOnlyAfterTheInnerConnectionTookNothingForTheLimit) {
    constexpr unsigned long kLimit = TBufferedConnection::kSendStallLimitMs;
    // Long enough to outlast the limit, short enough to end if it is ignored.
    constexpr unsigned int kStall = 10 * kLimit;
    const struct {
        const char* name;
        unsigned int zerosFirst;      // Send results of 0 before anything is taken
        unsigned int zerosAfterEach;  // and after each piece taken
        long expected;
        unsigned long bytesOnLine;
    } cases[] = {
        {"nothing taken at first", kStall, 0, -1, 0},
        {"stalled after a piece", 0, kStall, 4, 4},
        {"slow but never stalled for the limit", kLimit / 2, kLimit / 2, 10, 10},
    };
    const T_BinaryData payload = HexBytes("00 01 02 03 04 05 06 07 08 09");
    for (const auto& c : cases) {
        TTestSystem system;
        TMemoryLine line;
        TBufferedConnection connection(line.NewEnd(TMemoryLine::A));
        TMemoryLine::EndSwitches& end = line.Switches(TMemoryLine::A);
        end.maxSendChunk = 4;
        end.zeroSends = c.zerosFirst;
        end.tap = [&end, &c](std::vector<unsigned char>&) { end.zeroSends = c.zerosAfterEach; };

        EXPECT_EQ(connection.Send(payload.GetData(), payload.Length()), c.expected) << c.name;
        EXPECT_EQ(line.TakePending(TMemoryLine::B), payload.Copy(0, c.bytesOnLine)) << c.name;
        if (c.expected != static_cast<long>(payload.Length())) {
            EXPECT_GE(system.Clock().Now(), kLimit) << c.name;
        }
    }
}

TEST(BufferedConnectionOwnershipTest, PassesQueriesThroughAndDeletesTheInnerConnection) {
    TMemoryLine line;
    TMemoryLine::EndSwitches& inner = line.Switches(TMemoryLine::A);
    inner.peerAddress = 0x7F000001;
    inner.state = CONNSTATE_DISCONNECTED;
    inner.lastErrorCode = 20004;
    {
        TBufferedConnection buffered(line.NewEnd(TMemoryLine::A));
        EXPECT_EQ(buffered.GetPeerAddress(), 0x7F000001u);
        EXPECT_EQ(buffered.GetState(), CONNSTATE_DISCONNECTED);
        EXPECT_EQ(buffered.GetLastError().Code(), 20004u);
        EXPECT_EQ(line.LiveEnds(TMemoryLine::A), 1);
    }
    EXPECT_EQ(line.LiveEnds(TMemoryLine::A), 0);
}

}  // namespace
