#include "tunnel/FrameLevel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/Conversions.h"
#include "support/HexBytes.h"
#include "support/MemoryConnection.h"
#include "support/TestSystem.h"

namespace {

// A frame as it travels on the line: stuffed, between two END bytes.
T_BinaryData SlipWire(const T_BinaryData& frame) {
    T_BinaryData wire(SLIP::END);
    wire += SLIP::EscapeSpecialCharacters(frame);
    wire.AddDirectBytes(SLIP::END, 1);
    return wire;
}

std::string ToHex(const T_BinaryData& data) {
    std::string text;
    char pair[4];
    for (unsigned long i = 0; i < data.Length(); ++i) {
        std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", data[i]);
        text += pair;
    }
    return text;
}

// Terms of tagged data that may, or may not, be sent again after a time-out.
constexpr TPortionTerms kRepeatable{1, true};
constexpr TPortionTerms kNeverRepeated{1, false};

// A frame level whose SLIP layer sits on end A of a memory line; the test
// plays the peer on end B and steers time with a fake clock. The level runs
// without the measures against lost answers, so each frame goes out once
// between single ENDs; the tests of those measures build their own.
class FrameLevelTest : public ::testing::Test {
  protected:
    TTestSystem system;
    TMemoryLine line;
    TFrameLevel level{new SLIP(line.NewEnd(TMemoryLine::A)), TFrameOptions::AllOff()};

    // A level on a line of its own, with only the repairs of damaged frames switched as given.
    static std::unique_ptr<TFrameLevel> RepairingLevel(TMemoryLine& onLine, bool repairs) {
        TFrameOptions options = TFrameOptions::AllOff();
        options.repairAnswers = repairs;
        return std::make_unique<TFrameLevel>(new SLIP(onLine.NewEnd(TMemoryLine::A)), options);
    }

    // A level on a line of its own with one measure against lost answers switched on.
    static std::unique_ptr<TFrameLevel> LevelWith(TMemoryLine& onLine,
                                                  bool TFrameOptions::*measure) {
        TFrameOptions options = TFrameOptions::AllOff();
        options.*measure = true;
        return std::make_unique<TFrameLevel>(new SLIP(onLine.NewEnd(TMemoryLine::A)), options);
    }

    // The outcomes reported since the last call, as "+tag" (delivered) or "-tag" (given up).
    std::vector<std::string> Outcomes() {
        std::vector<std::string> outcomes;
        while (const auto outcome = level.TakeOutcome()) {
            outcomes.push_back((outcome->delivered ? "+" : "-") + std::to_string(outcome->tag));
        }
        return outcomes;
    }

    // A frame as the peer would send it (header, data, CRC), before stuffing.
    static T_BinaryData Frame(unsigned char type, unsigned char sequence,
                              const T_BinaryData& data) {
        T_BinaryData frame(type);
        frame.AddDirectBytes(sequence, 1);
        frame.AddDirectBytes(static_cast<unsigned char>(data.Length()), 1);
        frame += data;
        return frame + BinaryDataFromMsbWord(CountCrc(frame.GetData(), frame.Length()));
    }

    // The headers of the ACKs and NAKs a level without doubled delimiters sent on a line of its
    // own since the last call: each takes seven bytes there.
    static std::vector<std::string> AnswerHeaders(TMemoryLine& onLine) {
        std::vector<std::string> headers;
        const T_BinaryData wire = onLine.TakePending(TMemoryLine::B);
        for (unsigned long i = 0; i + TFrameHeader::kSize + 2 <= wire.Length(); i += 7) {
            headers.push_back(ToHex(wire.Copy(i + 1, TFrameHeader::kSize)));
        }
        return headers;
    }

    void PeerSends(const T_BinaryData& frame) { line.Inject(TMemoryLine::A, SlipWire(frame)); }
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

TEST_F(FrameLevelTest, AcknowledgesEveryGoodDataFrameButDeliversARepeatOnlyOnce) {
    const T_BinaryData frame = HexBytes("41 07 02 C0 DB F9 3A");
    PeerSends(frame);
    PeerSends(frame);
    EXPECT_EQ(level.ReceiveData(), HexBytes("C0 DB"));
    EXPECT_EQ(line.TakePending(TMemoryLine::B), HexBytes("C0 06 07 00 E7 AB C0"));
    EXPECT_EQ(level.ReceiveData().Length(), 0u);
    EXPECT_FALSE(level.BreakFollows());
    EXPECT_EQ(SentHeaders(), HexList({"06 07 00"}));
}

// Portions arriving one after the other (each acknowledged), and where the stream breaks.
TEST_F(FrameLevelTest, DeliversEachPortionOnceAndMarksWhereThePeerLostSome) {
    struct Arrival {
        unsigned char sequence;
        const char* data;
    };
    const struct {
        const char* name;
        std::vector<Arrival> arrivals;
        // What successive ReceiveData calls return; '|' after a piece: a break follows it.
        std::vector<std::string> pieces;
    } cases[] = {
        {"in order from any first number", {{9, "01"}, {10, "02"}, {11, "03"}}, {"01 02 03"}},
        {"repeat of the last", {{1, "01"}, {1, "01"}, {2, "02"}}, {"01 02"}},
        {"wrap from 255 to 0", {{255, "01"}, {0, "02"}}, {"01 02"}},
        {"gap", {{1, "01 02"}, {3, "03"}, {4, "04"}}, {"01 02|", "03 04"}},
        {"same number, other bytes", {{1, "01"}, {1, "05"}}, {"01|", "05"}},
        {"older number", {{5, "01"}, {4, "02"}}, {"01|", "02"}},
        {"two gaps", {{1, "01"}, {3, "03"}, {6, "06"}}, {"01|", "03|", "06"}},
        {"empty portion before anything was taken", {{1, ""}, {3, "03"}}, {"03"}},
        {"empty portion under the next number: the peer dropped it and its queue",
         {{1, "01"}, {2, ""}, {3, "03"}},
         {"01|", "03"}},
        {"empty portion under another number", {{1, "01"}, {1, ""}, {7, ""}, {2, "02"}}, {"01 02"}},
    };
    for (const auto& c : cases) {
        TMemoryLine caseLine;
        TFrameLevel caseLevel(new SLIP(caseLine.NewEnd(TMemoryLine::A)));
        for (const Arrival& arrival : c.arrivals) {
            caseLine.Inject(TMemoryLine::A, SlipWire(Frame(TFrameHeader::kData, arrival.sequence,
                                                           HexBytes(arrival.data))));
            caseLevel.Process();
        }
        std::vector<std::string> pieces;
        for (int call = 0; call < 8; ++call) {
            const T_BinaryData data = caseLevel.ReceiveData();
            if (data.Length() == 0 && !caseLevel.BreakFollows()) {
                continue;
            }
            pieces.push_back(ToHex(data) + (caseLevel.BreakFollows() ? "|" : ""));
        }
        EXPECT_EQ(pieces, c.pieces) << c.name;
    }
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
        {"41", "", ""},                                  // not even a number to refuse
        {"41 01 00 FF", "15 01 00", ""},                 // data frame shorter than any frame
        {"41 02 05 01 02 03 04 05 06", "15 02 00", ""},  // shorter than its length says
        {"06 01 00 FF", "", ""},                         // answer shorter than any frame
        {"99 01 00 12 34", "", ""},                      // unknown type
        {"06 05 00 00 00", "", ""},                      // ACK for nothing outstanding
        {"41 03 01 AA 00 00 EE EE", "15 03 00", ""},     // damaged, with trailing bytes
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
    PeerNaks(5);
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

TEST_F(FrameLevelTest, NakRetransmitsUntilTheTransmissionsAreUsedUpAndTheLastResetsTheLink) {
    level.SendData(BinaryDataFromRepeatedByte(0x55, 300), kNeverRepeated);
    const T_BinaryData first = line.TakePending(TMemoryLine::B);
    for (int retry = 1; retry < TFrameLevel::kTransmissionsPerPortion; ++retry) {
        PeerNaks(1);
        level.ReceiveData();
        EXPECT_EQ(line.TakePending(TMemoryLine::B), first);
    }
    PeerNaks(1);
    level.ReceiveData();
    EXPECT_TRUE(SentFrames().empty());
    EXPECT_FALSE(level.IsOnline());

    EXPECT_EQ(Outcomes(), std::vector<std::string>{"-1"});
    // The 45 queued bytes went with the portion; new data gets the next number.
    EXPECT_FALSE(level.SendData(HexBytes("77")));
    EXPECT_EQ(SentHeaders(), HexList({"41 02 01"}));
}

TEST_F(FrameLevelTest, ObeysAcksAndNaksWithoutCheckingTheirCrc) {
    level.SendData(BinaryDataFromRepeatedByte(0x55, 300));
    SentFrames();
    PeerSends(HexBytes("15 01 00 00 00"));  // NAK 1 with a wrong check
    level.ReceiveData();
    EXPECT_EQ(SentHeaders(), HexList({"41 01 FF"}));
    PeerSends(HexBytes("06 01 00 00 00"));  // ACK 1 with a wrong check
    level.ReceiveData();
    EXPECT_EQ(SentHeaders(), HexList({"41 02 2D"}));
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

TEST_F(FrameLevelTest,
       UnansweredRepeatablePortionIsSentAgainOnTimeOutUntilItsTransmissionsAreUsedUp) {
    level.SendData(BinaryDataFromRepeatedByte(0x55, 300), kRepeatable);
    const T_BinaryData first = line.TakePending(TMemoryLine::B);
    EXPECT_EQ(level.MillisecondsToNextDeadline(), 2000u);
    for (int repeat = 1; repeat < TFrameLevel::kTransmissionsPerPortion; ++repeat) {
        system.Clock().Advance(1999);
        level.ReceiveData();
        EXPECT_EQ(level.MillisecondsToNextDeadline(), 1u);
        EXPECT_EQ(line.PendingCount(TMemoryLine::B), 0u);
        system.Clock().Advance(1);
        level.ReceiveData();
        EXPECT_EQ(line.TakePending(TMemoryLine::B), first) << "repeat " << repeat;
        EXPECT_TRUE(level.IsOnline());
    }
    EXPECT_TRUE(Outcomes().empty());
    system.Clock().Advance(2000);
    level.ReceiveData();
    EXPECT_TRUE(SentFrames().empty());
    EXPECT_FALSE(level.IsOnline());
    EXPECT_FALSE(level.HasOutstanding());
    EXPECT_EQ(Outcomes(), std::vector<std::string>{"-1"});
    EXPECT_EQ(level.MillisecondsToNextDeadline(), TFrameLevel::kNoDeadline);
}

// A peer takes every good frame, so a portion it took and whose answer it lost would be
// delivered twice: such data is given up after its time-out, never sent again, and the stream
// goes on with the next data.
TEST_F(FrameLevelTest, UnansweredPortionThatMayNotBeRepeatedIsGivenUpWithTheRestOfItsData) {
    level.SendData(BinaryDataFromRepeatedByte(0x55, 300), kNeverRepeated);
    level.SendData(HexBytes("77"), TPortionTerms{2, false});
    EXPECT_EQ(SentHeaders(), HexList({"41 01 FF"}));
    EXPECT_EQ(level.MillisecondsToNextDeadline(), TFrameLevel::kUnrepeatedTimeoutMs);
    system.Clock().Advance(TFrameLevel::kUnrepeatedTimeoutMs - 1);
    level.ReceiveData();
    EXPECT_TRUE(SentFrames().empty());
    system.Clock().Advance(1);
    level.ReceiveData();
    // The 45 bytes behind the lost portion are of no use without it.
    EXPECT_EQ(SentHeaders(), HexList({"41 02 01"}));
    EXPECT_EQ(Outcomes(), std::vector<std::string>{"-1"});
    EXPECT_TRUE(level.IsOnline());

    PeerAcks(1);  // late: the portion is given up already
    level.ReceiveData();
    EXPECT_TRUE(SentFrames().empty());
    EXPECT_TRUE(Outcomes().empty());
    PeerAcks(2);
    level.ReceiveData();
    EXPECT_EQ(Outcomes(), std::vector<std::string>{"+2"});
    EXPECT_FALSE(level.HasOutstanding());
}

TEST_F(FrameLevelTest, OnlyTheLayersOwnResetCountsAsALoss) {
    level.SendData(HexBytes("01"), kNeverRepeated);
    level.ResetLink();
    EXPECT_TRUE(Outcomes().empty());

    line.Switches(TMemoryLine::A).sendFailure = -1;
    level.SendData(HexBytes("02"), TPortionTerms{2, true});
    EXPECT_EQ(Outcomes(), std::vector<std::string>{"-2"});
}

TEST_F(FrameLevelTest, EveryTransmissionStartsAFreshTimer) {
    level.SendData(BinaryDataFromRepeatedByte(0x55, 300), kRepeatable);
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

TEST_F(FrameLevelTest, ALostAckOfRepeatableDataCostsOneRepeatThatThePeerDoesNotDeliverTwice) {
    TMemoryLine peerLine;
    TFrameLevel peer(new SLIP(peerLine.NewEnd(TMemoryLine::A)), TFrameOptions::AllOff());
    level.SendData(HexBytes("01"), kRepeatable);
    EXPECT_TRUE(level.SendData(HexBytes("02"), kRepeatable));  // waits for the first
    const T_BinaryData frame = line.TakePending(TMemoryLine::B);
    peerLine.Inject(TMemoryLine::A, frame);
    EXPECT_EQ(peer.ReceiveData(), HexBytes("01"));
    peerLine.TakePending(TMemoryLine::B);  // its ACK is lost

    system.Clock().Advance(2000);
    level.ReceiveData();
    EXPECT_EQ(line.TakePending(TMemoryLine::B), frame);
    peerLine.Inject(TMemoryLine::A, frame);
    EXPECT_EQ(peer.ReceiveData().Length(), 0u);
    line.Inject(TMemoryLine::A, peerLine.TakePending(TMemoryLine::B));
    level.ReceiveData();
    EXPECT_EQ(SentHeaders(), HexList({"41 02 01"}));
}

TEST_F(FrameLevelTest, EverySendDataBeginsAPortionOfItsOwn) {
    EXPECT_TRUE(level.IsReadyForPortion());
    level.SendData(HexBytes("01 02"));
    EXPECT_FALSE(level.IsReadyForPortion());
    level.SendData(HexBytes("03"));
    level.SendData(BinaryDataFromRepeatedByte(0x04, 256));
    const char* expected[] = {"41 02 01", "41 03 FF", "41 04 01"};
    EXPECT_EQ(SentHeaders(), HexList({"41 01 02"}));
    for (unsigned char sequence = 1; sequence <= 3; ++sequence) {
        PeerAcks(sequence);
        level.ReceiveData();
        EXPECT_EQ(SentHeaders(), HexList({expected[sequence - 1]}));
    }
    EXPECT_TRUE(level.HasOutstanding());
    PeerAcks(4);
    level.ReceiveData();
    EXPECT_FALSE(level.HasOutstanding());
    EXPECT_TRUE(level.IsReadyForPortion());
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

// The measures against lost answers, as a peer following the protocol sees them: each ACK
// goes out twice, each frame ends with END END.
TEST_F(FrameLevelTest, ByDefaultAcksGoOutTwiceAndFramesEndWithADoubledEnd) {
    TMemoryLine hardLine;
    TFrameLevel hardened(new SLIP(hardLine.NewEnd(TMemoryLine::A)));
    hardLine.Inject(TMemoryLine::A, SlipWire(HexBytes("41 07 02 C0 DB F9 3A")));
    EXPECT_EQ(hardened.ReceiveData(), HexBytes("C0 DB"));
    EXPECT_EQ(hardLine.TakePending(TMemoryLine::B),
              HexBytes("C0 06 07 00 E7 AB C0 C0 C0 06 07 00 E7 AB C0 C0"));
    hardened.SendData(HexBytes("01 02 03"));
    EXPECT_EQ(hardLine.TakePending(TMemoryLine::B), HexBytes("C0 41 01 03 01 02 03 71 1C C0 C0"));
}

// The ACK of the data frame accepted last goes out again 500 and 1000 ms after it while
// nothing newer comes, and never once the peer's frame timer may have run out: a late ACK
// would bring a peer that reset its link up again.
TEST_F(FrameLevelTest, RefreshesTheLastAckOnlyWhileThePeersTimerRuns) {
    struct TStep {
        unsigned long atMs;
        int peerSendsFrame;  // its number, or 0 for none
        std::vector<std::string> sent;
    };
    const struct {
        const char* name;
        std::vector<TStep> steps;
    } cases[] = {
        {"nothing newer",
         {{0, 1, {"06 01 00"}},
          {499, 0, {}},
          {500, 0, {"06 01 00"}},
          {999, 0, {}},
          {1000, 0, {"06 01 00"}},
          {5000, 0, {}}}},
        {"a newer frame starts afresh",
         {{0, 1, {"06 01 00"}},
          {500, 0, {"06 01 00"}},
          {700, 2, {"06 02 00"}},
          {1000, 0, {}},
          {1200, 0, {"06 02 00"}},
          {1700, 0, {"06 02 00"}},
          {9000, 0, {}}}},
        {"the loop held up past the limit",
         {{0, 1, {"06 01 00"}}, {TFrameLevel::kAckRefreshLimitMs, 0, {}}, {1500, 0, {}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryLine caseLine;
        const auto level = LevelWith(caseLine, &TFrameOptions::refreshAcks);
        TFrameLevel& refreshing = *level;
        const std::uint32_t start = system.Clock().Now();
        for (const TStep& step : c.steps) {
            system.Clock().Advance(step.atMs - (system.Clock().Now() - start));
            if (step.peerSendsFrame != 0) {
                caseLine.Inject(TMemoryLine::A,
                                SlipWire(Frame(TFrameHeader::kData,
                                               static_cast<unsigned char>(step.peerSendsFrame),
                                               HexBytes("11"))));
            }
            refreshing.Process();
            const std::vector<std::string> sent = AnswerHeaders(caseLine);
            EXPECT_EQ(sent, step.sent) << "at " << step.atMs << " ms";
            if (step.atMs == 700) {
                EXPECT_EQ(refreshing.MillisecondsToNextDeadline(), 500u);
            }
        }
    }
}

// While no data frame has come for a while, the peer's next portion is asked for with a NAK for
// its number, so a portion lost whole is sent again before the peer's timer drops its queue.
// The NAK that would make a terminal reset its link (its third for one portion) is sent only in
// answer to its third transmission: sent earlier, it could cross a transmission that was only
// late, which would then arrive whole while the terminal dropped everything queued behind it.
TEST_F(FrameLevelTest, AsksForThePeersNextPortionButNeverWithItsLastNakTooEarly) {
    enum class Peer { kNothing, kGood, kDamaged };
    struct TStep {
        unsigned long atMs;
        Peer peer;
        unsigned char number;
        std::vector<std::string> sent;
    };
    const struct {
        const char* name;
        std::vector<TStep> steps;
    } cases[] = {
        {"a portion lost whole",
         {{0, Peer::kGood, 1, {"06 01 00"}},
          {299, Peer::kNothing, 0, {}},
          {300, Peer::kNothing, 0, {"15 02 00"}},
          {900, Peer::kNothing, 0, {"15 02 00"}},
          {5000, Peer::kNothing, 0, {}}}},
        {"a new portion stops the polls of the old",
         {{0, Peer::kGood, 1, {"06 01 00"}},
          {200, Peer::kGood, 2, {"06 02 00"}},
          {400, Peer::kNothing, 0, {}},
          {500, Peer::kNothing, 0, {"15 03 00"}}}},
        {"a refused portion whose repeat is lost: one poll, never a third NAK",
         {{0, Peer::kGood, 1, {"06 01 00"}},
          {100, Peer::kDamaged, 2, {"15 02 00"}},
          {400, Peer::kNothing, 0, {"15 02 00"}},
          {1000, Peer::kNothing, 0, {}},
          {1300, Peer::kNothing, 0, {}}}},
        {"three damaged transmissions: the third is refused",
         {{0, Peer::kGood, 1, {"06 01 00"}},
          {50, Peer::kDamaged, 2, {"15 02 00"}},
          {100, Peer::kDamaged, 2, {"15 02 00"}},
          {150, Peer::kDamaged, 2, {"15 02 00"}}}},
        {"a poll crossed a late transmission: no third NAK before the third arrives",
         {{0, Peer::kGood, 1, {"06 01 00"}},
          {300, Peer::kNothing, 0, {"15 02 00"}},
          {310, Peer::kDamaged, 2, {"15 02 00"}},
          {320, Peer::kDamaged, 2, {}},
          {330, Peer::kGood, 2, {"06 02 00"}}}},
        {"a NAK held back goes out once no transmission has come for a while",
         {{0, Peer::kGood, 1, {"06 01 00"}},
          {300, Peer::kNothing, 0, {"15 02 00"}},
          {310, Peer::kDamaged, 2, {"15 02 00"}},
          {320, Peer::kDamaged, 2, {}},
          {819, Peer::kNothing, 0, {}},
          {820, Peer::kNothing, 0, {"15 02 00"}},
          {3000, Peer::kNothing, 0, {}}}},
        {"polls the peer ignored leave its next portion refused, a while later",
         {{0, Peer::kGood, 1, {"06 01 00"}},
          {300, Peer::kNothing, 0, {"15 02 00"}},
          {900, Peer::kNothing, 0, {"15 02 00"}},
          {8000, Peer::kDamaged, 2, {}},
          {8400, Peer::kDamaged, 2, {}},
          {8899, Peer::kNothing, 0, {}},
          {8900, Peer::kNothing, 0, {"15 02 00"}},
          {8950, Peer::kGood, 2, {"06 02 00"}}}},
        {"a damaged copy of the portion taken last is not refused",
         {{0, Peer::kGood, 1, {"06 01 00"}},
          {10, Peer::kDamaged, 1, {}},
          {299, Peer::kNothing, 0, {}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryLine caseLine;
        const auto polling = LevelWith(caseLine, &TFrameOptions::pollNext);
        const std::uint32_t start = system.Clock().Now();
        for (const TStep& step : c.steps) {
            system.Clock().Advance(step.atMs - (system.Clock().Now() - start));
            if (step.peer != Peer::kNothing) {
                T_BinaryData frame = Frame(TFrameHeader::kData, step.number, HexBytes("11"));
                if (step.peer == Peer::kDamaged) {
                    const unsigned char last = frame[frame.Length() - 1];
                    frame = frame.Copy(0, frame.Length() - 1) +
                            BinaryDataFromRepeatedByte(static_cast<unsigned char>(~last), 1);
                }
                caseLine.Inject(TMemoryLine::A, SlipWire(frame));
            }
            polling->Process();
            const std::vector<std::string> sent = AnswerHeaders(caseLine);
            EXPECT_EQ(sent, step.sent) << "at " << step.atMs << " ms";
        }
    }
}

// Two transmissions of the peer's next portion, each damaged elsewhere, are rebuilt into the
// portion: acknowledged and delivered instead of refused a second time, since a terminal sends a
// portion only three times. Damaged alike, or the second cut short, they are refused.
TEST_F(FrameLevelTest, RebuildsTheNextPortionFromTwoDamagedTransmissions) {
    const T_BinaryData data = HexBytes("10 20 30 40 50 60 70 80");
    const T_BinaryData sent = Frame(TFrameHeader::kData, 2, data);
    const auto damaged = [&](unsigned long byte) {
        const unsigned char flipped = static_cast<unsigned char>(sent[byte] ^ 0x04);
        return sent.Copy(0, byte) + BinaryDataFromRepeatedByte(flipped, 1) +
               sent.Copy(byte + 1, sent.Length() - byte - 1);
    };
    const struct {
        const char* name;
        T_BinaryData second;
        std::vector<std::string> sent;
        T_BinaryData delivered;
    } cases[] = {
        {"damaged elsewhere", damaged(9), {"06 02 00"}, data},
        {"damaged alike", damaged(4), {"15 02 00"}, T_BinaryData()},
        {"cut after its number", HexBytes("41 02"), {"15 02 00"}, T_BinaryData()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryLine caseLine;
        const auto combining = LevelWith(caseLine, &TFrameOptions::combineCopies);
        caseLine.Inject(TMemoryLine::A, SlipWire(Frame(TFrameHeader::kData, 1, HexBytes("11"))));
        EXPECT_EQ(combining->ReceiveData(), HexBytes("11"));
        caseLine.Inject(TMemoryLine::A, SlipWire(damaged(4)));
        EXPECT_EQ(combining->ReceiveData().Length(), 0u);
        EXPECT_EQ(AnswerHeaders(caseLine), std::vector<std::string>({"06 01 00", "15 02 00"}));
        caseLine.Inject(TMemoryLine::A, SlipWire(c.second));
        EXPECT_EQ(combining->ReceiveData(), c.delivered);
        EXPECT_EQ(AnswerHeaders(caseLine), c.sent);
    }
}

// A notice goes out twice at once under the same number, so one copy damaged beyond a refusal
// costs no wait for the timer, and so does each repeat of it; anything else goes out once.
TEST_F(FrameLevelTest, NoticesGoOutTwiceAtOnce) {
    const struct {
        const char* name;
        unsigned long length;
        bool twice;
        std::vector<std::string> sent;
    } cases[] = {
        {"notice", 7, true, {"41 01 07", "41 01 07", "41 01 07", "41 01 07"}},
        {"data", 7, false, {"41 01 07", "41 01 07"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryLine caseLine;
        const auto doubling = LevelWith(caseLine, &TFrameOptions::doubleNotices);
        doubling->SendData(BinaryDataFromRepeatedByte('n', c.length),
                           TPortionTerms{1, true, c.twice});
        caseLine.Inject(TMemoryLine::A, SlipWire(Frame(TFrameHeader::kNak, 1, {})));
        doubling->Process();
        std::vector<std::string> sent;
        const T_BinaryData wire = caseLine.TakePending(TMemoryLine::B);
        for (unsigned long i = 0; i < wire.Length(); i += c.length + TFrameHeader::kSize + 4) {
            sent.push_back(ToHex(wire.Copy(i + 1, TFrameHeader::kSize)));
        }
        EXPECT_EQ(sent, c.sent);
    }
}

// Damaged answers to portion 1, with data 2 waiting behind it: an ACK taken sends 2, a NAK
// taken sends 1 again.
TEST_F(FrameLevelTest, RepairsAnAnswerDamagedInOneBitOrInAnEndButNothingElse) {
    const T_BinaryData ack = Frame(TFrameHeader::kAck, 1, {});
    const T_BinaryData nak = Frame(TFrameHeader::kNak, 1, {});
    const auto flipped = [](const T_BinaryData& frame, unsigned long offset, unsigned char bits) {
        std::vector<unsigned char> bytes(frame.GetData(), frame.GetData() + frame.Length());
        bytes[offset] ^= bits;
        return T_BinaryData(bytes.data(), bytes.size());
    };
    // An answer to another portion, ignored before and after its repair.
    const T_BinaryData otherAck = Frame(TFrameHeader::kAck, 3, {});
    // A frame the peer sent before, so that its closing END is the last END on the line.
    const T_BinaryData before = SlipWire(Frame(TFrameHeader::kAck, 9, {}));
    const T_BinaryData end(SLIP::END);
    const T_BinaryData damagedEnd(static_cast<unsigned char>(SLIP::END ^ 0x01));
    const struct {
        const char* name;
        T_BinaryData wire;
        const char* repaired;  // what follows with the repairs on: "next", "again" or "none"
        const char* plain;     // and with them off
    } cases[] = {
        {"whole ACK", SlipWire(ack), "next", "next"},
        {"whole NAK", SlipWire(nak), "again", "again"},
        {"type bit flipped", SlipWire(flipped(ack, 0, 0x01)), "next", "none"},
        {"number bit flipped", SlipWire(flipped(ack, 1, 0x10)), "next", "none"},
        {"length bit flipped", SlipWire(flipped(ack, 2, 0x80)), "next", "none"},
        {"NAK with a number bit flipped", SlipWire(flipped(nak, 1, 0x02)), "again", "none"},
        {"two bits flipped", SlipWire(flipped(ack, 0, 0x03)), "none", "none"},
        {"check bit flipped", SlipWire(flipped(ack, 4, 0x01)), "next", "next"},
        {"flip that gives another number", SlipWire(flipped(otherAck, 1, 0x01)), "none", "none"},
        // The peer refused the portion under a number damaged on the way.
        {"whole NAK one bit off the number", SlipWire(Frame(TFrameHeader::kNak, 0x81, {})), "again",
         "none"},
        {"whole NAK two bits off the number", SlipWire(Frame(TFrameHeader::kNak, 0x07, {})), "none",
         "none"},
        {"opening END damaged", before + damagedEnd + ack + end, "next", "none"},
        {"closing END damaged, nothing after", end + ack + damagedEnd, "next", "none"},
        {"closing END missing", end + ack, "next", "none"},
        {"damaged data frame left open",
         end + flipped(Frame(TFrameHeader::kData, 1, HexBytes("06 01")), 3, 0x01), "none", "none"},
    };
    for (const auto& c : cases) {
        for (const bool repairs : {true, false}) {
            TMemoryLine caseLine;
            const std::unique_ptr<TFrameLevel> repairing = RepairingLevel(caseLine, repairs);
            TFrameLevel& caseLevel = *repairing;
            caseLevel.SendData(HexBytes("11"), kNeverRepeated);
            caseLevel.SendData(HexBytes("22"), TPortionTerms{2, false});
            caseLine.TakePending(TMemoryLine::B);
            caseLine.Inject(TMemoryLine::A, c.wire);
            for (int call = 0; call < 3; ++call) {
                caseLevel.ReceiveData();
            }
            const T_BinaryData sent = caseLine.TakePending(TMemoryLine::B);
            const std::string reaction = sent.Length() == 0                                 ? "none"
                                         : sent == SlipWire(Frame(0x41, 2, HexBytes("22"))) ? "next"
                                         : sent == SlipWire(Frame(0x41, 1, HexBytes("11")))
                                             ? "again"
                                             : ToHex(sent);
            EXPECT_EQ(reaction, repairs ? c.repaired : c.plain)
                << c.name << (repairs ? ", repairs on" : ", repairs off");
        }
    }
}

TEST_F(FrameLevelTest, ADataFrameWithAGarbageByteInFrontIsTaken) {
    for (const bool repairs : {true, false}) {
        TMemoryLine caseLine;
        const std::unique_ptr<TFrameLevel> repairing = RepairingLevel(caseLine, repairs);
        TFrameLevel& caseLevel = *repairing;
        caseLine.Inject(TMemoryLine::A, SlipWire(Frame(TFrameHeader::kAck, 9, {})));
        // The opening END of the next frame was damaged.
        T_BinaryData wire(static_cast<unsigned char>(0xC4));
        wire += Frame(TFrameHeader::kData, 3, HexBytes("AA BB"));
        wire.AddDirectBytes(SLIP::END, 1);
        caseLine.Inject(TMemoryLine::A, wire);
        T_BinaryData received;
        for (int call = 0; call < 3; ++call) {
            received += caseLevel.ReceiveData();
        }
        EXPECT_EQ(received, repairs ? HexBytes("AA BB") : T_BinaryData())
            << (repairs ? "repairs on" : "repairs off");
    }
}

TEST_F(FrameLevelTest, ADataFrameWithADamagedTypeIsRefusedByItsNumber) {
    for (const bool repairs : {true, false}) {
        TMemoryLine caseLine;
        const std::unique_ptr<TFrameLevel> repairing = RepairingLevel(caseLine, repairs);
        TFrameLevel& caseLevel = *repairing;
        T_BinaryData frame = Frame(TFrameHeader::kData, 5, HexBytes("AA BB"));
        frame = T_BinaryData(static_cast<unsigned char>(0x40)) + frame.Copy(1, frame.Length());
        caseLine.Inject(TMemoryLine::A, SlipWire(frame));
        EXPECT_EQ(caseLevel.ReceiveData().Length(), 0u);
        EXPECT_EQ(caseLine.TakePending(TMemoryLine::B),
                  repairs ? SlipWire(Frame(TFrameHeader::kNak, 5, {})) : T_BinaryData())
            << (repairs ? "repairs on" : "repairs off");
    }
}

// A peer sends nothing more before it hears from us, so a frame whose closing END was damaged
// would wait until the peer's timer runs out and it drops its queue.
TEST_F(FrameLevelTest, ADataFrameWhoseCheckFitsIsTakenBeforeItsClosingEnd) {
    for (const bool repairs : {true, false}) {
        TMemoryLine caseLine;
        const std::unique_ptr<TFrameLevel> repairing = RepairingLevel(caseLine, repairs);
        TFrameLevel& caseLevel = *repairing;
        T_BinaryData wire(SLIP::END);
        wire += SLIP::EscapeSpecialCharacters(Frame(TFrameHeader::kData, 4, HexBytes("C0 01 DB")));
        caseLine.Inject(TMemoryLine::A, wire);
        EXPECT_EQ(caseLevel.ReceiveData(), repairs ? HexBytes("C0 01 DB") : T_BinaryData())
            << (repairs ? "repairs on" : "repairs off");
        EXPECT_EQ(caseLine.TakePending(TMemoryLine::B),
                  repairs ? SlipWire(Frame(TFrameHeader::kAck, 4, {})) : T_BinaryData());
        // The damaged END, then the peer's next frame.
        caseLine.Inject(TMemoryLine::A, T_BinaryData(static_cast<unsigned char>(0xC8)));
        caseLine.Inject(TMemoryLine::A, SlipWire(Frame(TFrameHeader::kData, 5, HexBytes("AA"))));
        T_BinaryData next;
        for (int call = 0; call < 3; ++call) {
            next += caseLevel.ReceiveData();
        }
        // Without the repair the frame comes only now, closed by the next frame's END, which
        // does not open that frame too.
        EXPECT_EQ(next, repairs ? HexBytes("AA") : HexBytes("C0 01 DB"));
    }
}

// Both ENDs of a data frame damaged: the opening one glued a byte to its front, and without a
// closing one the frame would wait for the peer's next frame, which a terminal sends only after
// its timer has dropped what it queued behind this one. Taken at once, the frame keeps its time.
TEST_F(FrameLevelTest, ADataFrameWithAGarbageByteInFrontIsTakenBeforeItsClosingEnd) {
    TMemoryLine caseLine;
    const std::unique_ptr<TFrameLevel> repairing = RepairingLevel(caseLine, true);
    T_BinaryData wire(SLIP::END);
    wire.AddDirectBytes(0xC1, 1);
    wire += SLIP::EscapeSpecialCharacters(Frame(TFrameHeader::kData, 4, HexBytes("10 20 30")));
    caseLine.Inject(TMemoryLine::A, wire);
    EXPECT_EQ(repairing->ReceiveData(), HexBytes("10 20 30"));
    EXPECT_EQ(caseLine.TakePending(TMemoryLine::B), SlipWire(Frame(TFrameHeader::kAck, 4, {})));
}

// Frames of one length follow each other all the time: one that waits for its closing END is
// looked into even when an earlier one of the same length was, frames ago.
TEST_F(FrameLevelTest, EveryFrameWaitingForItsEndIsLookedInto) {
    TMemoryLine caseLine;
    const std::unique_ptr<TFrameLevel> repairing = RepairingLevel(caseLine, true);
    const auto unclosed = [](unsigned char sequence, const T_BinaryData& data) {
        T_BinaryData wire(SLIP::END);
        return wire + SLIP::EscapeSpecialCharacters(Frame(TFrameHeader::kData, sequence, data));
    };
    caseLine.Inject(TMemoryLine::A, unclosed(1, HexBytes("11")));
    EXPECT_EQ(repairing->ReceiveData(), HexBytes("11"));
    caseLine.Inject(TMemoryLine::A, SlipWire(Frame(TFrameHeader::kData, 2, HexBytes("22"))));
    EXPECT_EQ(repairing->ReceiveData(), HexBytes("22"));
    caseLine.Inject(TMemoryLine::A, unclosed(3, HexBytes("33")));
    EXPECT_EQ(repairing->ReceiveData(), HexBytes("33"));
}

TEST_F(FrameLevelTest, AfterAnAnswerTakenBeforeItsEndTheNextFrameStillArrives) {
    TMemoryLine hardLine;
    TFrameLevel hardened(new SLIP(hardLine.NewEnd(TMemoryLine::A)));
    hardened.SendData(HexBytes("11"), kNeverRepeated);
    T_BinaryData wire(SLIP::END);
    wire += Frame(TFrameHeader::kAck, 1, {});
    hardLine.Inject(TMemoryLine::A, wire);
    hardened.ReceiveData();
    EXPECT_FALSE(hardened.HasOutstanding());
    // The damaged END arrives late, then the peer's next frame.
    hardLine.Inject(TMemoryLine::A, T_BinaryData(static_cast<unsigned char>(0xC8)));
    hardLine.Inject(TMemoryLine::A, SlipWire(Frame(TFrameHeader::kData, 1, HexBytes("AA"))));
    T_BinaryData received;
    for (int call = 0; call < 3; ++call) {
        received += hardened.ReceiveData();
    }
    EXPECT_EQ(received, HexBytes("AA"));
}

TEST_F(FrameLevelTest, StreamModeKeepsAFewPortionsOutAndGivesUpThoseWhoseAnswerIsLostOrRefused) {
    level.SetStreamMode(true);
    for (std::uint64_t tag = 1; tag <= TFrameLevel::kStreamWindow; ++tag) {
        EXPECT_TRUE(level.IsReadyForPortion());
        level.SendData(HexBytes("01"), TPortionTerms{tag, true});
    }
    EXPECT_FALSE(level.IsReadyForPortion());
    EXPECT_EQ(SentHeaders(), HexList({"41 01 01", "41 02 01", "41 03 01", "41 04 01"}));

    // Answers come in order: the NAK of 2 means the answer of 1 was lost, and 2 cannot be sent
    // again behind 3 and 4.
    PeerNaks(2);
    level.ReceiveData();
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{"-1", "-2"}));
    EXPECT_TRUE(SentFrames().empty());
    EXPECT_TRUE(level.IsReadyForPortion());

    PeerAcks(3);
    level.ReceiveData();
    EXPECT_EQ(Outcomes(), std::vector<std::string>{"+3"});
    // The newest may be refused and sent again: nothing follows it.
    PeerNaks(4);
    level.ReceiveData();
    EXPECT_EQ(SentHeaders(), HexList({"41 04 01"}));
    // Unanswered behind a newer portion, it is given up even though it may be repeated.
    level.SendData(HexBytes("05"), TPortionTerms{5, true});
    SentFrames();
    system.Clock().Advance(TFrameLevel::kFrameTimeoutMs);
    level.ReceiveData();
    EXPECT_EQ(Outcomes(), std::vector<std::string>{"-4"});
    EXPECT_EQ(SentHeaders(), HexList({"41 05 01"}));
}

}  // namespace
