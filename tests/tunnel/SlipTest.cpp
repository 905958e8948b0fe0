#include "tunnel/Slip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/HexBytes.h"
#include "support/MemoryConnection.h"

namespace {

// SLIP straight on end A of a memory line, so that every byte is one Receive.
class SlipTest : public ::testing::Test {
  protected:
    TMemoryLine line;
    SLIP slip{line.NewEnd(TMemoryLine::A)};

    // Payloads of the frames ReceiveData returns until it returns nothing.
    std::vector<T_BinaryData> ReceiveAll() {
        std::vector<T_BinaryData> frames;
        for (T_BinaryData frame = slip.ReceiveData(); frame.Length() != 0;
             frame = slip.ReceiveData()) {
            frames.push_back(frame);
        }
        return frames;
    }
};

TEST_F(SlipTest, StuffsEndAndEscAndSendsTheFrameInOneWrite) {
    EXPECT_TRUE(slip.SendData(HexBytes("C0 DB 41")));
    EXPECT_EQ(line.SendCalls(TMemoryLine::A), 1u);
    EXPECT_EQ(line.TakePending(TMemoryLine::B), HexBytes("C0 DB DC DB DD 41 C0"));
}

TEST_F(SlipTest, UnstuffingUndoesStuffing) {
    T_BinaryData all;
    for (int b = 0; b < 256; ++b) {
        all.AddDirectBytes(static_cast<unsigned char>(b), 2);
    }
    const T_BinaryData stuffed = SLIP::EscapeSpecialCharacters(all);
    EXPECT_EQ(stuffed.Length(), all.Length() + 4);
    EXPECT_TRUE(SLIP::RemoveEscapedCharacters(stuffed) == all);
}

TEST_F(SlipTest, UnstuffingDropsBrokenEscapes) {
    const struct {
        const char* stuffed;
        const char* payload;
    } cases[] = {
        {"DB DC DB DD", "C0 DB"},
        {"41 DB 41 42", "41 42"},  // an unknown escape loses the byte after ESC
        {"DB DB DC", "C0"},        // a second ESC starts a new escape
        {"41 DB", "41"},           // ESC at the very end
        {"DC DD", "DC DD"},        // escape codes alone are ordinary bytes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SLIP::RemoveEscapedCharacters(HexBytes(c.stuffed)), HexBytes(c.payload))
            << c.stuffed;
    }
}

TEST_F(SlipTest, DelimitsFramesOneCallAtATime) {
    const struct {
        const char* line;
        std::vector<T_BinaryData> frames;
    } cases[] = {
        {"C0 DB DC DB DD 41 C0", HexList({"C0 DB 41"})},
        {"C0 C0 41 C0", HexList({"41"})},                    // repeated END gives no empty frame
        {"41 42 C0 43 C0", HexList({"43"})},                 // bytes before the first END are lost
        {"C0 41 C0 C0 42 C0", HexList({"41", "42"})},        // back to back, first one first
        {"C0 41 C0 99 98 C0 42 C0", HexList({"41", "42"})},  // garbage between frames is dropped
        {"C0 41 C0 42 C0", HexList({"41"})},                 // a closing END opens nothing
        {"C0 DB DB DC C0", HexList({"C0"})},
        {"C0 41 DB C0", HexList({"41"})},
    };
    for (const auto& c : cases) {
        TMemoryLine caseLine;
        SLIP receiver(caseLine.NewEnd(TMemoryLine::A));
        caseLine.Inject(TMemoryLine::A, HexBytes(c.line));
        std::vector<T_BinaryData> frames;
        for (int call = 0; call < 4; ++call) {
            const T_BinaryData frame = receiver.ReceiveData();
            if (frame.Length() != 0) {
                frames.push_back(frame);
            }
        }
        EXPECT_EQ(frames, c.frames) << c.line;
    }
}

TEST_F(SlipTest, LeavesTheBytesAfterAFrameUnread) {
    line.Inject(TMemoryLine::A, HexBytes("C0 41 C0 C0 42 C0"));
    EXPECT_EQ(slip.ReceiveData(), HexBytes("41"));
    EXPECT_EQ(line.PendingCount(TMemoryLine::A), 3u);
}

TEST_F(SlipTest, KeepsAPartlyReceivedFrameUntilItsEndArrives) {
    line.Inject(TMemoryLine::A, HexBytes("C0 41 DB"));
    EXPECT_EQ(slip.ReceiveData().Length(), 0u);
    line.Inject(TMemoryLine::A, HexBytes("DC"));
    EXPECT_EQ(slip.ReceiveData().Length(), 0u);
    line.Inject(TMemoryLine::A, HexBytes("42 C0"));
    EXPECT_EQ(ReceiveAll(), HexList({"41 C0 42"}));
}

TEST_F(SlipTest, ReadErrorEndsTheCallAndKeepsTheFrame) {
    line.Inject(TMemoryLine::A, HexBytes("C0 41"));
    EXPECT_EQ(slip.ReceiveData().Length(), 0u);
    line.Switches(TMemoryLine::A).receiveFailure = -2;
    line.Inject(TMemoryLine::A, HexBytes("42 C0"));
    EXPECT_EQ(slip.ReceiveData().Length(), 0u);
    line.Switches(TMemoryLine::A).receiveFailure = 0;
    EXPECT_EQ(ReceiveAll(), HexList({"41 42"}));
}

TEST_F(SlipTest, ReportsAShortOrFailedWrite) {
    line.Switches(TMemoryLine::A).maxSendChunk = 3;
    EXPECT_FALSE(slip.SendData(HexBytes("01 02")));
    EXPECT_EQ(line.SendCalls(TMemoryLine::A), 1u);  // no retry here
    line.Switches(TMemoryLine::A).sendFailure = -1;
    EXPECT_FALSE(slip.SendData(HexBytes("01 02")));
}

TEST_F(SlipTest, TheLongestLegalFrameGetsThrough) {
    // 260 bytes of END stuff to 520 bytes: the longest legal raw frame.
    const T_BinaryData payload = BinaryDataFromRepeatedByte(SLIP::END, 260);
    ASSERT_TRUE(slip.SendData(payload));
    const T_BinaryData wire = line.TakePending(TMemoryLine::B);
    EXPECT_EQ(wire.Length(), SLIP::kMaxRawFrameLength + 2);
    line.Inject(TMemoryLine::A, wire);
    EXPECT_TRUE(slip.ReceiveData() == payload);
}

TEST_F(SlipTest, DropsAnOversizedFrameAndResynchronisesAtTheNextEnd) {
    T_BinaryData input = HexBytes("C0");
    input += BinaryDataFromRepeatedByte(0x41, SLIP::kMaxRawFrameLength + 1);
    input += HexBytes("C0 C0 42 C0");
    line.Inject(TMemoryLine::A, input);
    EXPECT_EQ(ReceiveAll(), HexList({"42"}));
}

TEST_F(SlipTest, EndlessBytesWithoutEndDoNotStopTheNextFrame) {
    T_BinaryData input = HexBytes("C0");
    input += BinaryDataFromRepeatedByte(0x55, 100000);
    line.Inject(TMemoryLine::A, input);
    EXPECT_EQ(slip.ReceiveData().Length(), 0u);
    line.Inject(TMemoryLine::A, HexBytes("C0 C0 43 C0"));
    EXPECT_EQ(ReceiveAll(), HexList({"43"}));
}

TEST(SlipOwnershipTest, DeletesItsConnection) {
    TMemoryLine line;
    { SLIP slip(line.NewEnd(TMemoryLine::A)); }
    EXPECT_EQ(line.LiveEnds(TMemoryLine::A), 0);
}

}  // namespace
