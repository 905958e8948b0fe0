// Reading what came back in the place of a portion's answer: a damaged ACK or NAK is taken for
// what it is only when it is close to one and far from the other.

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "support/HexBytes.h"
#include "tunnel/DamagedAnswers.h"
#include "tunnel/FrameWriter.h"

namespace {

constexpr std::uint8_t kNumber = 0x2A;

T_BinaryData Answer(unsigned char type) {
    return BuildFrame(TFrameHeader(type, kNumber, 0), {});
}

// The frame with the bits flipped, counted from its first byte.
T_BinaryData Flipped(const T_BinaryData& frame, const std::vector<unsigned>& bits) {
    T_BinaryData bytes(frame.GetData(), frame.Length());
    for (const unsigned bit : bits) {
        bytes.Data()[bit / 8] ^= static_cast<unsigned char>(1U << (bit % 8));
    }
    return bytes;
}

T_BinaryData Behind(unsigned char front, const T_BinaryData& frame) {
    T_BinaryData bytes(front);
    return bytes + frame;
}

TEST(DamagedAnswersTest, ReadsAnAnswerOnlyWhenItIsCloseToOneAndFarFromTheOther) {
    const T_BinaryData ack = Answer(TFrameHeader::kAck);
    const T_BinaryData nak = Answer(TFrameHeader::kNak);
    const struct {
        const char* name;
        std::vector<T_BinaryData> frames;
        bool copiesSent;
        std::optional<unsigned char> read;
    } cases[] = {
        {"nothing came", {}, false, std::nullopt},
        {"ACK with two bits of its type damaged",
         {Flipped(ack, {5, 6})},
         false,
         TFrameHeader::kAck},
        {"NAK with a damaged type and check",
         {Flipped(nak, {1, 2, 33})},
         false,
         TFrameHeader::kNak},
        {"ACK behind the byte of a damaged END",
         {Behind(0x40, Flipped(ack, {0, 9}))},
         false,
         TFrameHeader::kAck},
        {"ACK glued to the frame after it",
         {Flipped(ack, {3, 4}) + HexBytes("40 41 07 00")},
         false,
         TFrameHeader::kAck},
        {"both copies of an ACK damaged",
         {Flipped(ack, {5, 6}), Flipped(ack, {17})},
         false,
         TFrameHeader::kAck},
        {"four bits off an ACK", {Flipped(ack, {0, 1, 2, 3})}, false, std::nullopt},
        {"ACK of another number",
         {Flipped(BuildFrame(TFrameHeader(TFrameHeader::kAck, 0xD5, 0), {}), {5, 6})},
         false,
         std::nullopt},
        {"a damaged data frame", {HexBytes("41 2A 03 01 02 03 77 77")}, false, std::nullopt},
        {"too short to hold an answer", {HexBytes("06 2A 00")}, false, std::nullopt},
        {"an ACK and a NAK", {Flipped(ack, {5, 6}), Flipped(nak, {5, 6})}, false, std::nullopt},
        {"an ACK and a NAK of a portion sent twice",
         {Flipped(ack, {5, 6}), Flipped(nak, {5, 6})},
         true,
         TFrameHeader::kAck},
        {"more frames than one answer's worth",
         {Flipped(ack, {5}), Flipped(ack, {6}), Flipped(ack, {7}), Flipped(ack, {9}),
          Flipped(ack, {10})},
         true,
         std::nullopt},
    };
    for (const auto& c : cases) {
        TDamagedAnswers answers;
        for (const T_BinaryData& frame : c.frames) {
            answers.Add(frame);
        }
        EXPECT_EQ(answers.Read(kNumber, c.copiesSent), c.read) << c.name;
    }
}

}  // namespace
