// One direction of the simulated line, on a clock the test sets: pacing,
// faults and the frame counts.

#include "line-sim/LineDirection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

const TLineClock::time_point t0{};

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string Visible(const TLineDirection& direction, TLineClock::time_point now) {
    std::uint8_t buffer[256];
    const std::size_t count = direction.PeekVisible(buffer, sizeof buffer, now);
    return std::string(buffer, buffer + count);
}

TEST(LineDirectionTest, EachByteArrivesAfterItsTransmissionTime) {
    TLineDirection line(1000, 1);  // 1 ms per byte
    const auto data = Bytes("abcd");
    line.Accept(data.data(), data.size(), t0);
    EXPECT_EQ(Visible(line, t0), "");
    EXPECT_EQ(Visible(line, t0 + microseconds(999)), "");
    EXPECT_EQ(Visible(line, t0 + milliseconds(1)), "a");
    EXPECT_EQ(Visible(line, t0 + milliseconds(3)), "abc");
    EXPECT_EQ(line.NextArrival(t0 + milliseconds(3)), t0 + milliseconds(4));
    EXPECT_EQ(line.InFlight(t0 + milliseconds(3)), 1u);

    // Bytes written while the line is busy queue behind the others; after a
    // pause, the line starts afresh.
    line.Accept(data.data(), 1, t0 + milliseconds(2));
    EXPECT_EQ(line.NextArrival(t0 + milliseconds(4)), t0 + milliseconds(5));
    line.Accept(data.data(), 1, t0 + milliseconds(10));
    EXPECT_EQ(line.NextArrival(t0 + milliseconds(5)), t0 + milliseconds(11));

    line.Consume(2);
    EXPECT_EQ(Visible(line, t0 + milliseconds(11)), "cdaa");
    EXPECT_EQ(line.Counts().sent, 6u);
    EXPECT_EQ(line.Counts().delivered, 2u);
    EXPECT_FALSE(line.NextArrival(t0 + milliseconds(11)).has_value());
}

TEST(LineDirectionTest, UnpacedBytesArriveAtOnce) {
    TLineDirection line(0, 1);
    const auto data = Bytes("abc");
    line.Accept(data.data(), data.size(), t0);
    EXPECT_EQ(Visible(line, t0), "abc");
    EXPECT_FALSE(line.NextArrival(t0).has_value());
}

TEST(LineDirectionTest, FaultsFollowTheSeedAndTheRates) {
    const std::vector<std::uint8_t> data(100000, 0x55);
    struct TCase {
        double ber;
        double drop;
    };
    for (const TCase& c : {TCase{1e-3, 0}, TCase{0, 1e-2}, TCase{1e-4, 1e-3}}) {
        TLineDirection first(0, 7);
        TLineDirection second(0, 7);
        first.SetFaults(c.ber, c.drop);
        second.SetFaults(c.ber, c.drop);
        first.Accept(data.data(), data.size(), t0);
        second.Accept(data.data(), data.size(), t0);
        const TDirectionCounts& counts = first.Counts();
        // Within a generous band of the expected number of hits.
        const double flips = c.ber * 8 * data.size();
        const double drops = c.drop * data.size();
        EXPECT_NEAR(static_cast<double>(counts.flippedBits), flips, flips / 3 + 3);
        EXPECT_NEAR(static_cast<double>(counts.droppedBytes), drops, drops / 3 + 3);
        EXPECT_EQ(first.Backlog(), data.size() - counts.droppedBytes);
        // The same seed damages the same bytes.
        EXPECT_EQ(Visible(first, t0), Visible(second, t0));
        EXPECT_EQ(counts.flippedBits, second.Counts().flippedBits);
    }
}

TEST(LineDirectionTest, SilenceAndGarbage) {
    TLineDirection line(0, 1);
    const auto data = Bytes("abc");
    line.SilenceUntil(t0 + milliseconds(5));
    line.Accept(data.data(), data.size(), t0 + milliseconds(4));
    EXPECT_EQ(line.Backlog(), 0u);
    EXPECT_EQ(line.Counts().silencedBytes, 3u);
    line.Accept(data.data(), data.size(), t0 + milliseconds(5));
    line.InjectGarbage(10, t0 + milliseconds(5));
    EXPECT_EQ(line.Backlog(), 13u);
    EXPECT_EQ(Visible(line, t0 + milliseconds(5)).substr(0, 3), "abc");
    EXPECT_EQ(line.Counts().garbageBytes, 10u);
}

TEST(LineDirectionTest, CountsFramesAsSentWithTheirStuffing) {
    TLineDirection line(0, 1);
    // A data frame with two data bytes, one of them stuffed; an ACK; a NAK;
    // noise between frames; a frame of another type.
    const std::vector<std::uint8_t> stream = {
        0xC0, 0x41, 0x01, 0x02, 0xDB, 0xDC, 0x11, 0xAA, 0xBB, 0xC0,  // data, 10 bytes on the wire
        0xC0, 0x06, 0x01, 0x00, 0x12, 0x34, 0xC0,                    // ACK, 7
        0x99, 0xC0, 0x15, 0x02, 0x00, 0x12, 0x34, 0xC0,              // NAK, 7
        0xC0, 0x77, 0xC0};
    line.Accept(stream.data(), stream.size(), t0);
    const TFrameCounts& frames = line.Frames();
    EXPECT_EQ(frames.dataFrames, 1u);
    EXPECT_EQ(frames.dataWireBytes, 10u);
    EXPECT_EQ(frames.dataPayloadBytes, 2u);
    EXPECT_EQ(frames.ackFrames, 1u);
    EXPECT_EQ(frames.ackWireBytes, 7u);
    EXPECT_EQ(frames.nakFrames, 1u);
    EXPECT_EQ(frames.nakWireBytes, 7u);
    EXPECT_EQ(frames.otherFrames, 1u);
}

}  // namespace
