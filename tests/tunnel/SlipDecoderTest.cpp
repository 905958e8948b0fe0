#include "tunnel/SlipDecoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/HexBytes.h"
#include "tunnel/Slip.h"

namespace {

struct TDecoded {
    std::vector<T_BinaryData> frames;
    unsigned long dropped = 0;
};

TDecoded Decode(const T_BinaryData& stream) {
    TSlipDecoder decoder;
    TDecoded result;
    for (unsigned long i = 0; i < stream.Length(); ++i) {
        if (decoder.Feed(stream[i])) {
            result.frames.push_back(decoder.TakeFrame());
        }
    }
    result.dropped = decoder.TakeDroppedCount();
    return result;
}

TEST(SlipDecoderTest, CutsFramesAndCountsWhatItDrops) {
    struct TCase {
        const char* stream;
        std::vector<T_BinaryData> frames;
        unsigned long dropped;
    };
    const TCase cases[] = {
        {"C0 DB DC DB DD 41 C0", HexList({"C0 DB 41"}), 0},
        {"C0 41 C0 C0 42 C0", HexList({"41", "42"}), 0},
        {"41 42 C0 43 C0", HexList({"43"}), 2},                 // bytes before the first END
        {"C0 41 C0 44 45 C0 46 C0", HexList({"41", "46"}), 2},  // closing END opens nothing
        {"C0 C0 41 C0", HexList({"41"}), 0},
        {"C0 41 42", {}, 0},  // still collecting
    };
    for (const TCase& c : cases) {
        const TDecoded decoded = Decode(HexBytes(c.stream));
        EXPECT_EQ(decoded.frames, c.frames) << c.stream;
        EXPECT_EQ(decoded.dropped, c.dropped) << c.stream;
    }
}

TEST(SlipDecoderTest, DropsAnOverlongFrameWholeAndWaitsForTheNextEnd) {
    T_BinaryData stream(SLIP::END);
    for (unsigned long i = 0; i <= SLIP::kMaxRawFrameLength; ++i) {
        stream.AddDirectBytes(0x41, 1);
    }
    stream += HexBytes("C0 C0 42 C0");
    const TDecoded decoded = Decode(stream);
    EXPECT_EQ(decoded.frames, HexList({"42"}));
    EXPECT_EQ(decoded.dropped, SLIP::kMaxRawFrameLength + 1);
}

TEST(SlipDecoderTest, ReportsAFrameStillBeingCollected) {
    TSlipDecoder decoder;
    EXPECT_FALSE(decoder.InFrame());
    decoder.Feed(SLIP::END);
    decoder.Feed(0x41);
    EXPECT_TRUE(decoder.InFrame());
}

}  // namespace
