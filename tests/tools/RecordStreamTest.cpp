// The checked data of the load tests: any piece of the stream can be made on
// its own, and the checker stops at the first byte that is wrong, missing or
// out of place.

#include "tunnel-load/RecordStream.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

std::vector<std::uint8_t> Stream(std::uint64_t offset, std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    TRecordStream::Fill(offset, bytes.data(), length);
    return bytes;
}

TEST(RecordStreamTest, PiecesMatchTheWholeAndRecordsCarryTheirNumbers) {
    const auto whole = Stream(0, 1000);
    const auto piece = Stream(45, 300);
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), whole.begin() + 45));
    // Record 2 starts at byte 64 with its number, most significant byte first.
    EXPECT_EQ(std::vector<std::uint8_t>(whole.begin() + 64, whole.begin() + 68),
              (std::vector<std::uint8_t>{0, 0, 0, 2}));
    EXPECT_NE(Stream(0, 32), Stream(32, 32));
}

TEST(RecordStreamTest, CheckerStopsAtTheFirstWrongByte) {
    struct TCase {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> damage;
        std::uint64_t verified;  // bytes accepted before the fault
        bool failed;
    };
    const std::vector<TCase> cases = {
        {"intact", [](auto&) {}, 2000, false},
        {"flipped bit", [](auto& s) { s[777] ^= 0x10; }, 777, true},
        // The next record's number differs from the expected one in its last
        // byte only.
        {"lost record", [](auto& s) { s.erase(s.begin() + 320, s.begin() + 352); }, 323, true},
        {"repeated record", [](auto& s) { s.insert(s.begin() + 64, s.begin() + 32, s.begin() + 64); },
         67, true},
        {"lost byte", [](auto& s) { s.erase(s.begin() + 1500); }, 1500, true},
    };
    for (const TCase& c : cases) {
        auto stream = Stream(0, 2000);
        c.damage(stream);
        TRecordChecker checker;
        // Fed in uneven pieces, as a connection hands them out.
        for (std::size_t offset = 0; offset < stream.size(); offset += 333) {
            checker.Feed(stream.data() + offset, std::min<std::size_t>(333, stream.size() - offset));
        }
        EXPECT_EQ(checker.Failed(), c.failed) << c.name;
        EXPECT_EQ(checker.Verified(), c.verified) << c.name;
    }
}

}  // namespace
