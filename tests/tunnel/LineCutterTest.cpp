#include "tunnel/LineCutter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/HexBytes.h"

namespace {

// What the cutter tells, as "F:" or "G:" and the bytes in hex.
std::vector<std::string> Cut(const std::vector<T_BinaryData>& pieces) {
    std::vector<std::string> told;
    TLineCutter cutter([&told](TLineCutter::TKind kind, const T_BinaryData& bytes) {
        std::string text = kind == TLineCutter::TKind::Frame ? "F:" : "G:";
        for (unsigned long i = 0; i < bytes.Length(); ++i) {
            char pair[4];
            std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
            text += pair;
        }
        told.push_back(text);
    });
    for (const T_BinaryData& piece : pieces) {
        cutter.Feed(piece.GetData(), piece.Length());
    }
    return told;
}

TEST(LineCutterTest, FramesAndWhatWasNoFrame) {
    struct TCase {
        const char* name;
        std::vector<T_BinaryData> pieces;  // one Feed each
        std::vector<std::string> told;
    };
    // One byte more than the longest frame: thrown away whole, and the END after it opens
    // the next frame.
    T_BinaryData overlong = HexBytes("C0");
    overlong.AddDirectBytes(0x41, 521);
    overlong += HexBytes("C0");
    std::string overlongGarbage = "G:";
    for (int i = 0; i < 521; ++i) {
        overlongGarbage += "41";
    }
    // The same across two reads, the limit passed in the second.
    T_BinaryData firstHalf = HexBytes("C0");
    firstHalf.AddDirectBytes(0x41, 300);
    T_BinaryData secondHalf;
    secondHalf.AddDirectBytes(0x41, 300);
    secondHalf += HexBytes("C0");
    std::string splitGarbage = "G:";
    for (int i = 0; i < 600; ++i) {
        splitGarbage += "41";
    }
    const TCase cases[] = {
        {"frames, unstuffed",
         HexList({"C0 41 DB DC 42 C0 C0 06 DB DD C0"}),
         {"F:41C042", "F:06DB"}},
        {"a frame across reads", HexList({"C0 41", "42 C0"}), {"F:4142"}},
        {"noise between frames", HexList({"C0 41 C0 11 22 C0 42 C0"}), {"F:41", "G:1122", "F:42"}},
        {"noise at the end of a read keeps its place",
         HexList({"C0 41 C0 11", "22 C0 42 C0"}),
         {"F:41", "G:11", "G:22", "F:42"}},
        {"a doubled END opens nothing", HexList({"C0 41 C0 C0 C0 42 C0"}), {"F:41", "F:42"}},
        {"a frame too long for one is garbage, raw", {overlong}, {overlongGarbage}},
        {"a frame too long across reads", {firstHalf, secondHalf}, {splitGarbage}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Cut(c.pieces), c.told);
    }
}

}  // namespace
