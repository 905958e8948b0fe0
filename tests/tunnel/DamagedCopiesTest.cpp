// Rebuilding a data frame from damaged transmissions of it: taken only when the copies agree
// on exactly one frame whose check fits.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/Conversions.h"
#include "tunnel/DamagedCopies.h"

namespace {

// A data frame (type, number, length, data, check) of `length` bytes of a pattern.
T_BinaryData Frame(unsigned char number, unsigned char length) {
    std::vector<unsigned char> bytes{0x41, number, length};
    for (unsigned i = 0; i < length; ++i) {
        bytes.push_back(static_cast<unsigned char>(i * 37 + 11));
    }
    const std::uint16_t check = CountCrc(bytes.data(), static_cast<unsigned long>(bytes.size()));
    bytes.push_back(static_cast<unsigned char>(check >> 8));
    bytes.push_back(static_cast<unsigned char>(check & 0xFF));
    return T_BinaryData(bytes.data(), static_cast<unsigned long>(bytes.size()));
}

// The frame with the given bits flipped, counted from the frame's first byte.
T_BinaryData Flipped(const T_BinaryData& frame, const std::vector<unsigned long>& bits) {
    std::vector<unsigned char> bytes(frame.GetData(), frame.GetData() + frame.Length());
    for (const unsigned long bit : bits) {
        bytes[bit / 8] ^= static_cast<unsigned char>(1U << (bit % 8));
    }
    return T_BinaryData(bytes.data(), static_cast<unsigned long>(bytes.size()));
}

TEST(DamagedCopiesTest, RebuildsOnlyTheOneFrameTheCopiesAgreeOn) {
    const T_BinaryData sent = Frame(7, 200);
    const T_BinaryData other = Frame(8, 200);
    const struct {
        const char* name;
        std::vector<T_BinaryData> copies;  // added in turn; only the last may rebuild
        bool rebuilt;
    } cases[] = {
        {"one flip in each of two copies", {Flipped(sent, {40}), Flipped(sent, {900})}, true},
        {"a flip in the check of one", {Flipped(sent, {77}), Flipped(sent, {8 * 204 + 3})}, true},
        {"the same flip in both", {Flipped(sent, {40}), Flipped(sent, {40})}, false},
        {"a shared flip besides", {Flipped(sent, {40, 60}), Flipped(sent, {40, 900})}, false},
        {"two copies too far apart", {Flipped(sent, {40, 41}), Flipped(sent, {900, 901})}, false},
        {"the third copy pairs with the first",
         {Flipped(sent, {40}), Flipped(sent, {900, 901}), Flipped(sent, {500})},
         true},
        {"three copies, two flips each",
         {Flipped(sent, {40, 41}), Flipped(sent, {900, 901}), Flipped(sent, {500, 1200})},
         false},
        {"a copy of another frame in between starts over",
         {Flipped(sent, {40}), Flipped(other, {50}), Flipped(sent, {900})},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TDamagedCopies copies;
        std::optional<T_BinaryData> result;
        for (std::size_t i = 0; i < c.copies.size(); ++i) {
            result = copies.Add(c.copies[i]);
            if (i + 1 < c.copies.size()) {
                ASSERT_FALSE(result) << "rebuilt from copy " << i;
            }
        }
        EXPECT_EQ(result.has_value(), c.rebuilt);
        if (result) {
            EXPECT_EQ(*result, sent);
        }
    }
}

// Once a frame is rebuilt the copies are gone: the next damaged one starts afresh.
TEST(DamagedCopiesTest, ForgetsTheCopiesOnceRebuiltOrCleared) {
    const T_BinaryData sent = Frame(3, 50);
    TDamagedCopies copies;
    ASSERT_FALSE(copies.Add(Flipped(sent, {30})));
    ASSERT_TRUE(copies.Add(Flipped(sent, {100})));
    EXPECT_FALSE(copies.Add(Flipped(sent, {200})));
    copies.Clear();
    EXPECT_FALSE(copies.Add(Flipped(sent, {300})));
    EXPECT_EQ(copies.Add(Flipped(sent, {31})), sent);
}

}  // namespace
