#include "tunnel/FrameLevel.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/Conversions.h"
#include "support/HexBytes.h"
#include "support/MemoryConnection.h"
#include "support/TestSystem.h"

namespace {

// A frame level whose SLIP layer sits on end A of a memory line; the test
// plays the peer on end B and steers time with a fake clock.
class FrameLevelTest : public ::testing::Test {
  protected:
    TTestSystem system;
    TMemoryLine line;
    TFrameLevel level{new SLIP(line.NewEnd(TMemoryLine::A))};

    // A frame as the peer would send it (header, data, CRC), before stuffing.
    static T_BinaryData Frame(unsigned char type, unsigned char sequence,
                              const T_BinaryData& data) {
        T_BinaryData frame(type);
        frame.AddDirectBytes(sequence, 1);
        frame.AddDirectBytes(static_cast<unsigned char>(data.Length()), 1);
        frame += data;
        return frame + BinaryDataFromMsbWord(CountCrc(frame.GetData(), frame.Length()));
    }

    void PeerSends(const T_BinaryData& frame) {
        T_BinaryData wire(SLIP::END);
        wire += SLIP::EscapeSpecialCharacters(frame);
        wire.AddDirectBytes(SLIP::END, 1);
        line.Inject(TMemoryLine::A, wire);
    }
    void PeerAcks(unsigned char sequence) { PeerSends(Frame(TFrameHeader::kAck, sequence, {})); }
    void PeerNaks(unsigned char sequence) { PeerSends(Frame(TFrameHeader::kNak, sequence, {})); }

    // The frames sent to the peer since the last call, unstuffed.
    std::vector<T_BinaryData> SentFrames() {
        std::vector<T_BinaryData> frames;
        const T_BinaryData wire = line.TakePending(TMemoryLine::B);
        T_BinaryData raw;
        for (unsigned long i = 0; i < wire.Length(); ++i) {
            if (wire[i] != SLIP::END) {
                raw.AddDirectBytes(wire[i], 1);
            } else if (raw.Length() != 0) {
                frames.push_back(SLIP::RemoveEscapedCharacters(raw));
                raw = T_BinaryData();
            }
        }
        return frames;
    }
    // Type, sequence and length of each frame sent since the last call.
    std::vector<T_BinaryData> SentHeaders() {
        std::vector<T_BinaryData> headers;
        for (const T_BinaryData& frame : SentFrames()) {
            headers.push_back(frame.Copy(0, TFrameHeader::kSize));
        }
        return headers;
    }
};

TEST_F(FrameLevelTest, FirstSendGoesOutAsDataFrameOne) {
    EXPECT_TRUE(level.IsOnline());
    EXPECT_TRUE(level.SendData(HexBytes("01 02 03")));
    EXPECT_EQ(line.TakePending(TMemoryLine::B), HexBytes("C0 41 01 03 01 02 03 71 1C C0"));
}

TEST_F(FrameLevelTest, AcknowledgesAndDeliversEveryGoodDataFrameEvenARepeatedOne) {
    const T_BinaryData frame = HexBytes("41 07 02 C0 DB F9 3A");
    PeerSends(frame);
    PeerSends(frame);
    EXPECT_EQ(level.ReceiveData(), HexBytes("C0 DB"));
    EXPECT_EQ(line.TakePending(TMemoryLine::B), HexBytes("C0 06 07 00 E7 AB C0"));
    EXPECT_EQ(level.ReceiveData(), HexBytes("C0 DB"));
    EXPECT_EQ(SentHeaders(), HexList({"06 07 00"}));
}

TEST_F(FrameLevelTest, NaksADamagedDataFrameAndDropsItsData) {
    PeerSends(HexBytes("41 07 02 C0 DB F9 3B"));
    EXPECT_EQ(level.ReceiveData().Length(), 0u);
    EXPECT_EQ(SentHeaders(), HexList({"15 07 00"}));
}

TEST_F(FrameLevelTest, IgnoresShortAndUnknownFramesAndBytesBeyondTheCheck) {
    const struct {
        const char* frame;
        const char* answer;
        const char* data;
    } cases[] = {
        {"41 01 00 FF", "", ""},                      // shorter than any frame
        {"41 01 05 01 02 03 04 05 06", "", ""},       // shorter than its length says
        {"99 01 00 12 34", "", ""},                   // unknown type
        {"06 05 00 00 00", "", ""},                   // ACK for nothing outstanding
        {"41 01 01 AA 00 00 EE EE", "15 01 00", ""},  // damaged, with trailing bytes
    };
    for (const auto& c : cases) {
        PeerSends(HexBytes(c.frame));
        EXPECT_EQ(level.ReceiveData(), HexBytes(c.data)) << c.frame;
        EXPECT_EQ(SentHeaders(), c.answer[0] ? HexList({c.answer}) : HexList({})) << c.frame;
    }
    T_BinaryData padded = Frame(TFrameHeader::kData, 1, HexBytes("AA"));
    padded += HexBytes("EE EE");
    PeerSends(padded);
    EXPECT_EQ(level.ReceiveData(), HexBytes("AA"));
    EXPECT_EQ(SentHeaders(), HexList({"06 01 00"}));
}

TEST_F(FrameLevelTest, SendsLongDataInPortionsEachAfterTheAckOfThePrevious) {
    T_BinaryData data;
    for (int i = 0; i < 600; ++i) {
        data.AddDirectBytes(static_cast<unsigned char>(i), 1);
    }
    EXPECT_TRUE(level.SendData(data));
    std::vector<T_BinaryData> frames = SentFrames();
    ASSERT_EQ(frames.size(), 1u);
    T_BinaryData carried = frames[0].Copy(3, 255);
    EXPECT_EQ(frames[0].Copy(0, 3), HexBytes("41 01 FF"));

    PeerAcks(5);  // not the current portion: ignored
    level.ReceiveData();
    EXPECT_TRUE(SentFrames().empty());

    const char* expected[] = {"41 02 FF", "41 03 5A"};
    for (unsigned char sequence = 1; sequence <= 2; ++sequence) {
        PeerAcks(sequence);
        level.ReceiveData();
        frames = SentFrames();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].Copy(0, 3), HexBytes(expected[sequence - 1]));
        carried += frames[0].Copy(3, frames[0][2]);
    }
    PeerAcks(3);
    level.ReceiveData();
    EXPECT_TRUE(SentFrames().empty());
    EXPECT_TRUE(carried == data);
}

TEST_F(FrameLevelTest, NakRetransmitsTwiceAndTheThirdResetsTheLink) {
    level.SendData(BinaryDataFromRepeatedByte(0x55, 300));
    const T_BinaryData first = line.TakePending(TMemoryLine::B);
    for (int retry = 0; retry < 2; ++retry) {
        PeerNaks(1);
        level.ReceiveData();
        EXPECT_EQ(line.TakePending(TMemoryLine::B), first);
    }
    PeerNaks(1);
    level.ReceiveData();
    EXPECT_TRUE(SentFrames().empty());
    EXPECT_FALSE(level.IsOnline());

    // The 45 queued bytes went with the portion; new data gets the next number.
    EXPECT_FALSE(level.SendData(HexBytes("77")));
    EXPECT_EQ(SentHeaders(), HexList({"41 02 01"}));
}

TEST_F(FrameLevelTest, AfterAResetTheLinkStaysDownUntilThePeerAnswers) {
    level.ResetLink();
    EXPECT_FALSE(level.IsOnline());
    EXPECT_FALSE(level.SendData(HexBytes("01")));
    EXPECT_EQ(SentHeaders(), HexList({"41 01 01"}));
    PeerAcks(9);
    level.ReceiveData();
    EXPECT_FALSE(level.IsOnline());
    PeerAcks(1);
    level.ReceiveData();
    EXPECT_TRUE(level.IsOnline());

    level.ResetLink();
    PeerSends(Frame(TFrameHeader::kData, 4, HexBytes("42")));
    EXPECT_EQ(level.ReceiveData(), HexBytes("42"));
    EXPECT_TRUE(level.IsOnline());
}

TEST_F(FrameLevelTest, StreamModeSendsEveryCallAtOnceAndWaitsOnlyForTheLastPortion) {
    level.SetStreamMode(true);
    level.SendData(BinaryDataFromRepeatedByte(0x01, 10));
    level.SendData(BinaryDataFromRepeatedByte(0x02, 10));
    level.SendData(BinaryDataFromRepeatedByte(0x03, 300));
    EXPECT_EQ(SentHeaders(), HexList({"41 01 0A", "41 02 0A", "41 03 FF"}));
    PeerAcks(1);
    PeerAcks(2);
    level.ReceiveData();
    level.ReceiveData();
    EXPECT_TRUE(SentFrames().empty());
    PeerAcks(3);
    level.ReceiveData();
    EXPECT_EQ(SentHeaders(), HexList({"41 04 2D"}));
}

TEST_F(FrameLevelTest, SequenceNumberWrapsFrom255To0) {
    for (int sequence = 1; sequence <= 255; ++sequence) {
        level.SendData(HexBytes("AA"));
        PeerAcks(static_cast<unsigned char>(sequence));
        level.ReceiveData();
    }
    SentFrames();
    level.SendData(HexBytes("BB"));
    EXPECT_EQ(SentHeaders(), HexList({"41 00 01"}));
    level.SendData(HexBytes("CC"));
    PeerAcks(0);
    level.ReceiveData();
    EXPECT_EQ(SentHeaders(), HexList({"41 01 01"}));
}

TEST_F(FrameLevelTest, ExpiredFrameTimerDropsQueuedDataButRetransmitsNothing) {
    const struct {
        unsigned long elapsed;
        bool online;
        std::vector<T_BinaryData> afterAck;
    } cases[] = {
        {1999, true, HexList({"41 02 2D"})},
        {2000, false, HexList({})},
    };
    for (const auto& c : cases) {
        TTestSystem caseSystem;
        TMemoryLine caseLine;
        TFrameLevel caseLevel(new SLIP(caseLine.NewEnd(TMemoryLine::A)));
        caseLevel.SendData(BinaryDataFromRepeatedByte(0x55, 300));
        caseLine.TakePending(TMemoryLine::B);

        caseSystem.Clock().Advance(c.elapsed);
        caseLevel.ReceiveData();
        EXPECT_EQ(caseLevel.IsOnline(), c.online) << c.elapsed;
        EXPECT_EQ(caseLine.PendingCount(TMemoryLine::B), 0u) << c.elapsed;

        caseLine.Inject(TMemoryLine::A, HexBytes("C0 06 01 00 4D 0D C0"));  // ACK 1
        caseLevel.ReceiveData();
        std::vector<T_BinaryData> sent;
        const T_BinaryData wire = caseLine.TakePending(TMemoryLine::B);
        if (wire.Length() != 0) {
            sent.push_back(wire.Copy(1, 3));
        }
        EXPECT_EQ(sent, c.afterAck) << c.elapsed;
    }
}

TEST_F(FrameLevelTest, EveryTransmissionStartsAFreshTimer) {
    level.SendData(BinaryDataFromRepeatedByte(0x55, 300));
    system.Clock().Advance(1500);
    PeerNaks(1);
    level.ReceiveData();
    system.Clock().Advance(1500);  // 3000 ms after the first transmission, 1500 after the second
    level.ReceiveData();
    EXPECT_TRUE(level.IsOnline());
    SentFrames();
    PeerAcks(1);
    level.ReceiveData();
    EXPECT_EQ(SentHeaders(), HexList({"41 02 2D"}));
}

TEST_F(FrameLevelTest, ALostAckStallsALonePortionUntilMoreDataIsQueued) {
    level.SendData(HexBytes("01"));
    SentFrames();
    system.Clock().Advance(10000);
    level.ReceiveData();
    EXPECT_TRUE(level.IsOnline());
    EXPECT_TRUE(SentFrames().empty());  // no retransmission on time-out

    EXPECT_TRUE(level.SendData(HexBytes("02")));  // only queued
    EXPECT_TRUE(SentFrames().empty());
    level.ReceiveData();  // the timer has run out while data waits
    EXPECT_FALSE(level.IsOnline());
}

TEST_F(FrameLevelTest, AFailedWriteOfADataFrameResetsTheLinkButOfAnAnswerDoesNot) {
    line.Switches(TMemoryLine::A).sendFailure = -1;
    PeerSends(Frame(TFrameHeader::kData, 3, HexBytes("33")));
    EXPECT_EQ(level.ReceiveData(), HexBytes("33"));
    EXPECT_TRUE(level.IsOnline());
    EXPECT_FALSE(level.SendData(HexBytes("01")));
}

TEST_F(FrameLevelTest, HandlesAtMostOneIncomingFramePerCall) {
    PeerSends(Frame(TFrameHeader::kData, 1, HexBytes("11")));
    PeerSends(Frame(TFrameHeader::kData, 2, HexBytes("22")));
    EXPECT_EQ(level.ReceiveData(), HexBytes("11"));
    EXPECT_EQ(SentHeaders(), HexList({"06 01 00"}));
    EXPECT_EQ(level.ReceiveData(), HexBytes("22"));
    EXPECT_EQ(SentHeaders(), HexList({"06 02 00"}));
}

}  // namespace
