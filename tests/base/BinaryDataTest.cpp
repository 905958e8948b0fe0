#include "base/BinaryData.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <string>

#include "platform/FileSystem.h"
#include "platform/linux/LinFileSystem.h"
#include "support/Bytes.h"
#include "support/TempDir.h"

namespace {

using Vec = std::vector<unsigned char>;

unsigned long CapacityOf(const T_BinaryData& data) {
    return data.GetDataRef().GetDataLink()->GetCapacity();
}

bool SharesBlock(const T_BinaryData& a, const T_BinaryData& b) {
    return a.GetDataRef().GetDataLink() == b.GetDataRef().GetDataLink();
}

TEST(BinaryDataTest, Construction) {
    const unsigned char src[] = {1, 2, 3};
    struct Case {
        const char* name;
        T_BinaryData data;
        Vec expected;
    };
    const Case cases[] = {
        {"default", T_BinaryData(), {}},
        {"copied", T_BinaryData(src, 3), {1, 2, 3}},
        {"null source", T_BinaryData(nullptr, 3), {0, 0, 0}},
        {"rounded to blocks", T_BinaryData(src, 3, 4), {1, 2, 3, 0}},
        {"block 1", T_BinaryData(src, 3, 1), {1, 2, 3}},
        {"already a multiple", T_BinaryData(src, 2, 2), {1, 2}},
        {"single byte", T_BinaryData(static_cast<unsigned char>(0x7F)), {0x7F}},
        {"string with zero byte", T_BinaryData(std::string("a\0b", 3)), {'a', 0, 'b'}},
        {"borrowed", T_BinaryData(false, src, 2), {1, 2}},
        {"adopted", T_BinaryData(true, new unsigned char[2]{9, 8}, 2), {9, 8}},
        {"view", T_BinaryData(Bytes({1, 2, 3}).GetDataRef(), 1, 1), {2}},
        // A view never reaches past the bytes it is made of.
        {"view to the end", T_BinaryData(Bytes({1, 2, 3}).GetDataRef(), 1, 0xFFFFFFFF), {2, 3}},
        {"view clamped", T_BinaryData(Bytes({1, 2, 3}).GetDataRef(), 2, 5), {3}},
        {"view past the end", T_BinaryData(Bytes({1, 2, 3}).GetDataRef(), 7, 2), {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, ToVector(c.data)) << c.name;
    }
}

TEST(BinaryDataTest, EmptyBuffersAllocateNothing) {
    const unsigned char src[] = {1};
    for (const T_BinaryData& empty :
         {T_BinaryData(), T_BinaryData(src, 0), T_BinaryData(std::string()),
          T_BinaryData(true, new unsigned char[0], 0)}) {
        EXPECT_EQ(0UL, empty.Length());
        EXPECT_TRUE(empty.OnlyZeroes());
        EXPECT_EQ(nullptr, empty.GetDataRef().GetDataLink()->GetData());
    }
}

TEST(BinaryDataTest, OnlyZeroes) {
    EXPECT_TRUE(Bytes({0, 0, 0}).OnlyZeroes());
    EXPECT_FALSE(Bytes({0, 0, 1}).OnlyZeroes());
    EXPECT_FALSE(Bytes({1, 0, 0}).Copy(0, 2).OnlyZeroes());
}

TEST(BinaryDataTest, AssignmentFromString) {
    T_BinaryData data = Bytes({1, 2, 3, 4});
    const T_BinaryData copy = data;
    data = std::string("xy");
    EXPECT_EQ(T_BinaryData(std::string("xy")), data);
    EXPECT_EQ(Bytes({1, 2, 3, 4}), copy);
}

TEST(BinaryDataTest, CopyClampsItsRange) {
    const T_BinaryData data = Bytes({1, 2, 3, 4});
    struct Case {
        unsigned long offset, count;
        Vec expected;
    };
    const Case cases[] = {
        {5, 3, {}},  {1, 0xFFFFFFFF, {2, 3, 4}}, {1, 100, {2, 3, 4}},
        {1, 0, {}},  {0, 4, {1, 2, 3, 4}},       {4, 1, {}},
        {2, 1, {3}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, ToVector(data.Copy(c.offset, c.count)))
            << "Copy(" << c.offset << ", " << c.count << ")";
    }
}

TEST(BinaryDataTest, CutRemovesTheRangeAndReturnsIt) {
    struct Case {
        unsigned long offset, count;
        Vec cut, left;
    };
    const Case cases[] = {
        {1, 2, {2, 3}, {1, 4}},          {0, 1, {1}, {2, 3, 4}},
        {3, 0xFFFFFFFF, {4}, {1, 2, 3}}, {0, 0xFFFFFFFF, {1, 2, 3, 4}, {}},
        {2, 0, {}, {1, 2, 3, 4}},        {9, 1, {}, {1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        for (bool shared : {false, true}) {
            T_BinaryData data = Bytes({1, 2, 3, 4});
            const T_BinaryData other = shared ? data : T_BinaryData();
            const T_BinaryData cut = data.Cut(c.offset, c.count);
            EXPECT_EQ(c.cut, ToVector(cut)) << c.offset << "," << c.count << " shared " << shared;
            EXPECT_EQ(c.left, ToVector(data)) << c.offset << "," << c.count << " shared " << shared;
            if (shared) {
                EXPECT_EQ(Bytes({1, 2, 3, 4}), other);
            }
        }
    }
}

TEST(BinaryDataTest, CutPartIsIndependentOfTheSource) {
    for (unsigned long offset : {0UL, 1UL, 2UL}) {
        T_BinaryData data = Bytes({1, 2, 3, 4});
        const T_BinaryData cut = data.Cut(offset, 2);
        const Vec expected = ToVector(cut);
        std::memset(data.Data(), 0xEE, data.Length());
        data.AddDirectBytes(0xEE, 100);
        data.Paste(0, Bytes({0xEE}));
        EXPECT_EQ(expected, ToVector(cut)) << "offset " << offset;
    }
}

TEST(BinaryDataTest, ModifyingACopyNeverChangesTheOriginal) {
    const T_BinaryData original = Bytes({1, 2, 3, 4});
    using Edit = void (*)(T_BinaryData&);
    const std::pair<const char*, Edit> edits[] = {
        {"Add", [](T_BinaryData& d) { d.Add(Bytes({9}).GetData(), 1); }},
        {"+=", [](T_BinaryData& d) { d += Bytes({9}); }},
        {"Paste", [](T_BinaryData& d) { d.Paste(1, std::string("x")); }},
        {"Replace", [](T_BinaryData& d) { d.Replace(1, 2, std::string("xyz")); }},
        {"AddDirectBytes", [](T_BinaryData& d) { d.AddDirectBytes(9, 3); }},
        {"Data", [](T_BinaryData& d) { d.Data()[0] = 9; }},
        {"Cut middle", [](T_BinaryData& d) { d.Cut(1, 2); }},
        {"Cut front", [](T_BinaryData& d) { d.Cut(0, 2); }},
        {"Clear", [](T_BinaryData& d) { d.Clear(); }},
        {"assign", [](T_BinaryData& d) { d = std::string("zz"); }},
    };
    for (const auto& [name, edit] : edits) {
        T_BinaryData copy = original;
        T_BinaryData slice = original.Copy(1, 2);
        edit(copy);
        edit(slice);
        EXPECT_EQ(Bytes({1, 2, 3, 4}), original) << name;
    }
}

TEST(BinaryDataTest, ModifyingTheOriginalNeverChangesACopy) {
    T_BinaryData a = Bytes({1, 2, 3, 4});
    T_BinaryData b = a;
    const T_BinaryData slice = a.Copy(1, 2);
    const T_BinaryData trimmed = a.TrimTrailingBytes(4);
    EXPECT_TRUE(SharesBlock(a, b));
    EXPECT_TRUE(SharesBlock(a, slice));
    a.Data()[1] = 0xEE;
    a += Bytes({5});
    a.Clear();
    EXPECT_EQ(Bytes({1, 2, 3, 4}), b);
    EXPECT_EQ(Bytes({2, 3}), slice);
    EXPECT_EQ(Bytes({1, 2, 3}), trimmed);

    // Appending to b, then clearing the original, leaves b alone too.
    T_BinaryData c = b;
    b.AddDirectBytes(7, 1);
    c.Clear();
    EXPECT_EQ(Bytes({1, 2, 3, 4, 7}), b);
}

TEST(BinaryDataTest, BuildersLeaveTheirOperandsAlone) {
    const T_BinaryData a = Bytes({1, 2});
    EXPECT_EQ(Bytes({1, 2, 3}), a + Bytes({3}));
    EXPECT_EQ(Bytes({1, 2, 0xAA, 0xAA}), a.AddBytes(0xAA, 2));
    EXPECT_EQ(Bytes({1, 2}), a.AddBytes(0xAA, 0));
    EXPECT_EQ(Bytes({1, 2}), a);
}

TEST(BinaryDataTest, PasteAndReplace) {
    struct Case {
        const char* name;
        void (*edit)(T_BinaryData&);
        Vec expected;
    };
    const Case cases[] = {
        {"Paste at front",
         [](T_BinaryData& d) {
             d.Paste(0, Bytes({9, 8}));
         },
         {9, 8, 1, 2, 3, 4}},
        {"Paste inside", [](T_BinaryData& d) { d.Paste(2, Bytes({9})); }, {1, 2, 9, 3, 4}},
        {"Paste beyond the end appends",
         [](T_BinaryData& d) { d.Paste(100, std::string("\x09")); },
         {1, 2, 3, 4, 9}},
        {"Paste nothing", [](T_BinaryData& d) { d.Paste(1, T_BinaryData()); }, {1, 2, 3, 4}},
        {"Replace shorter", [](T_BinaryData& d) { d.Replace(1, 2, Bytes({9})); }, {1, 9, 4}},
        {"Replace longer",
         [](T_BinaryData& d) {
             d.Replace(1, 1, Bytes({9, 8, 7}));
         },
         {1, 9, 8, 7, 3, 4}},
        {"Replace same size",
         [](T_BinaryData& d) { d.Replace(0, 2, std::string("\x09\x08")); },
         {9, 8, 3, 4}},
        {"Replace with nothing removes nothing",
         [](T_BinaryData& d) { d.Replace(1, 2, Bytes({1}).GetData(), 0); },
         {1, 2, 3, 4}},
        {"Replace beyond the end appends",
         [](T_BinaryData& d) { d.Replace(7, 2, Bytes({9})); },
         {1, 2, 3, 4, 9}},
        {"Replace count clamped",
         [](T_BinaryData& d) { d.Replace(2, 100, Bytes({9})); },
         {1, 2, 9}},
        {"Add nothing", [](T_BinaryData& d) { d.Add(nullptr, 0); }, {1, 2, 3, 4}},
        {"AddDirectBytes", [](T_BinaryData& d) { d.AddDirectBytes(0, 2); }, {1, 2, 3, 4, 0, 0}},
    };
    for (const Case& c : cases) {
        T_BinaryData data = Bytes({1, 2, 3, 4});
        c.edit(data);
        EXPECT_EQ(c.expected, ToVector(data)) << c.name;
    }
}

TEST(BinaryDataTest, EditsWithTheBufferItselfAsSource) {
    T_BinaryData data = Bytes({1, 2, 3});
    data += data;
    EXPECT_EQ(Bytes({1, 2, 3, 1, 2, 3}), data);
    data.Paste(1, data.GetData(), 2);  // in place, source bytes move
    EXPECT_EQ(Bytes({1, 1, 2, 2, 3, 1, 2, 3}), data);
    data.Replace(0, 6, data.GetData() + 5, 3);
    EXPECT_EQ(Bytes({1, 2, 3, 2, 3}), data);
}

TEST(BinaryDataTest, GrowthDoublesOrMakesRoomForTwiceTheAddition) {
    struct Case {
        unsigned long initial, added, capacity;
    };
    const Case cases[] = {
        {4, 1, 8},    // twice the capacity
        {4, 10, 24},  // length + twice the growth
        {0, 3, 6},
    };
    for (const Case& c : cases) {
        T_BinaryData data(nullptr, c.initial);
        data.AddDirectBytes(1, c.added);
        EXPECT_EQ(c.initial + c.added, data.Length());
        EXPECT_EQ(c.capacity, CapacityOf(data)) << c.initial << " + " << c.added;
    }
}

TEST(BinaryDataTest, ClearKeepsTheCapacityForReuse) {
    T_BinaryData data(nullptr, 64);
    const unsigned char* bytes = data.GetData();
    data.Clear();
    data.Cut(0, 10);
    data.AddDirectBytes(5, 60);
    EXPECT_EQ(bytes, data.GetData());
    EXPECT_EQ(64UL, CapacityOf(data));
    EXPECT_EQ(T_BinaryData(BinaryDataFromRepeatedByte(5, 60)), data);
}

TEST(BinaryDataTest, FrontRemovalFromASoleHolderMovesNoBytes) {
    T_BinaryData queue;
    queue.AddDirectBytes(0, 1000);  // leaves spare room behind the bytes
    for (unsigned long i = 0; i < queue.Length(); ++i) {
        queue.Data()[i] = static_cast<unsigned char>(i);
    }
    const unsigned char* bytes = queue.GetData();
    const T_BinaryData portion = queue.Cut(0, 255);
    EXPECT_EQ(bytes + 255, queue.GetData());
    EXPECT_TRUE(queue.GetDataRef().GetDataLink()->IsSingleOwner());
    // While the portion is still in use, refilling the queue works in place.
    queue.AddDirectBytes(0xAB, 100);
    EXPECT_EQ(bytes + 255, queue.GetData());
    EXPECT_EQ(255UL, portion.Length());
    EXPECT_EQ(254, portion[254]);
    EXPECT_EQ(0, queue[1]);  // byte 256
    EXPECT_EQ(845UL, queue.Length());
    EXPECT_EQ(0xAB, queue[844]);
}

TEST(BinaryDataTest, QueueOfAppendsAndFrontCutsKeepsItsBytes) {
    // Random appends and front cuts against a plain deque, through all the
    // ways the storage makes room: in place, moving down and growing.
    std::mt19937 random(7);
    T_BinaryData queue;
    std::deque<unsigned char> expected;
    unsigned char next = 0;
    for (int step = 0; step < 3000; ++step) {
        if (random() % 2 == 0) {
            const unsigned long count = random() % 700;
            T_BinaryData chunk(nullptr, count);
            for (unsigned long i = 0; i < count; ++i) {
                chunk.Data()[i] = next;
                expected.push_back(next++);
            }
            queue += chunk;
        } else {
            const T_BinaryData portion = queue.Cut(0, 255);
            const auto taken = std::min<std::size_t>(255, expected.size());
            ASSERT_EQ(Vec(expected.begin(), expected.begin() + taken), ToVector(portion));
            expected.erase(expected.begin(), expected.begin() + taken);
        }
        ASSERT_EQ(Vec(expected.begin(), expected.end()), ToVector(queue)) << "step " << step;
    }
}

TEST(BinaryDataTest, RandomEditsOfSharingBuffersMatchPlainVectors) {
    // Buffers that copy, slice and edit one another at random, each checked
    // against a plain vector after every step: no edit may reach a buffer it
    // was not made on, whatever sharing or spare room is in play.
    constexpr std::size_t kSlots = 4;
    std::mt19937 random(11);
    T_BinaryData buffers[kSlots];
    Vec models[kSlots];
    for (int step = 0; step < 20000; ++step) {
        const std::size_t i = random() % kSlots;
        const std::size_t j = random() % kSlots;
        T_BinaryData& a = buffers[i];
        Vec& m = models[i];
        const Vec other = models[j];
        // Positions and counts may lie past the end: the buffer clamps them.
        const unsigned long pos = random() % (m.size() + 3);
        const unsigned long count = random() % (m.size() + 3);
        const auto from = m.begin() + std::min<unsigned long>(pos, m.size());
        const auto to = from + std::min<unsigned long>(count, m.end() - from);
        switch (random() % 9) {
            case 0:
                a = buffers[j];
                m = other;
                break;
            case 1: {
                buffers[j] = a.Copy(pos, count);
                models[j] = Vec(from, to);
                break;
            }
            case 2: {
                const Vec expected(from, to);
                const T_BinaryData cut = a.Cut(pos, count);
                m.erase(from, to);
                ASSERT_EQ(expected, ToVector(cut)) << "step " << step;
                buffers[j] = cut;
                models[j] = expected;
                break;
            }
            case 3:
                a.Paste(pos, buffers[j]);
                m.insert(from, other.begin(), other.end());
                break;
            case 4:
                a.Replace(pos, count, buffers[j]);
                if (!other.empty()) {
                    m.insert(m.erase(from, to), other.begin(), other.end());
                }
                break;
            case 5: {
                const unsigned long n = random() % 300;
                a.AddDirectBytes(static_cast<unsigned char>(step), n);
                m.insert(m.end(), n, static_cast<unsigned char>(step));
                break;
            }
            case 6:
                a += buffers[j];
                m.insert(m.end(), other.begin(), other.end());
                break;
            case 7:
                if (!m.empty()) {
                    a.Data()[pos % m.size()] ^= 0x5A;
                    m[pos % m.size()] ^= 0x5A;
                }
                break;
            case 8: {
                Vec padded(count, 0x00);
                std::copy(from, std::min(to, from + count), padded.begin());
                buffers[j] = a.CopyZeroPadded(pos, count);
                models[j] = padded;
                break;
            }
        }
        if (random() % 50 == 0) {
            buffers[j].Clear();
            models[j].clear();
        }
        for (std::size_t k = 0; k < kSlots; ++k) {
            ASSERT_EQ(models[k], ToVector(buffers[k])) << "step " << step << " slot " << k;
        }
    }
}

TEST(BinaryDataTest, CopyZeroPadded) {
    const T_BinaryData data = Bytes({1, 2, 3});
    struct Case {
        unsigned long offset, count;
        Vec expected;
    };
    const Case cases[] = {
        {2, 4, {3, 0, 0, 0}}, {9, 2, {0, 0}}, {3, 2, {0, 0}}, {0, 2, {1, 2}}, {1, 0, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, ToVector(data.CopyZeroPadded(c.offset, c.count)))
            << "CopyZeroPadded(" << c.offset << ", " << c.count << ")";
    }
    EXPECT_EQ(Bytes({1, 2, 3}), data);
}

TEST(BinaryDataTest, TrimTrailingBytes) {
    EXPECT_EQ(Bytes({0x41}), Bytes({0x41, 0, 0}).TrimTrailingBytes(0));
    EXPECT_EQ(0UL, Bytes({0, 0}).TrimTrailingBytes(0).Length());
    EXPECT_EQ(Bytes({0, 1}), Bytes({0, 1}).TrimTrailingBytes(0));
    EXPECT_EQ(0UL, T_BinaryData().TrimTrailingBytes(0).Length());
}

TEST(BinaryDataTest, BorrowedMemoryIsNeverWrittenNorKeptByOthers) {
    unsigned char memory[] = {1, 2, 3, 4};
    T_BinaryData borrowing(false, memory, 4);
    const T_BinaryData copy = borrowing;
    const T_BinaryData slice = borrowing.Copy(1, 2);
    T_BinaryData assigned;
    assigned = borrowing;
    T_BinaryData accumulated;
    accumulated += borrowing;

    borrowing.Data()[0] = 9;
    borrowing.AddDirectBytes(5, 1);
    borrowing.Cut(1, 1);
    EXPECT_EQ((Vec{1, 2, 3, 4}), Vec(std::begin(memory), std::end(memory)));
    EXPECT_EQ(Bytes({9, 3, 4, 5}), borrowing);

    std::memset(memory, 0xEE, sizeof memory);
    EXPECT_EQ(Bytes({1, 2, 3, 4}), copy);
    EXPECT_EQ(Bytes({2, 3}), slice);
    EXPECT_EQ(Bytes({1, 2, 3, 4}), assigned);
    EXPECT_EQ(Bytes({1, 2, 3, 4}), accumulated);
}

TEST(BinaryDataTest, SelfAssignmentKeepsTheBytes) {
    T_BinaryData data = Bytes({1, 2});
    const T_BinaryData& self = data;
    data = self;
    EXPECT_EQ(Bytes({1, 2}), data);
}

}  // namespace

namespace {

using Vec = std::vector<unsigned char>;

TEST(BinaryDataReadersTest, NumbersOnlyFromBytesThatExist) {
    const T_BinaryData four = Bytes({0x01, 0x02, 0x03, 0x04});
    const T_BinaryData two = Bytes({0x01, 0x02});
    EXPECT_EQ(0, four.LsbWord(3));
    EXPECT_EQ(0x0403, four.LsbWord(2));
    EXPECT_EQ(258, two.MsbWord(0));
    EXPECT_EQ(513, two.LsbWord(0));
    EXPECT_EQ(0, two.MsbWord(1));
    EXPECT_EQ(0x01020304UL, four.MsbDword(0));
    EXPECT_EQ(0x04030201UL, four.LsbDword(0));
    EXPECT_EQ(0UL, four.MsbDword(1));
    EXPECT_EQ(0UL, four.LsbDword(0xFFFFFFFFFFFFFFFFUL));
    EXPECT_EQ(0, four.MsbWord(0xFFFFFFFFUL));
}

TEST(BinaryDataReadersTest, Builders) {
    EXPECT_EQ(Bytes({0x34, 0x12}), BinaryDataFromLsbWord(0x1234));
    EXPECT_EQ(Bytes({0x12, 0x34}), BinaryDataFromMsbWord(0x1234));
    EXPECT_EQ(Bytes({0x0A, 0x00, 0x00, 0x01}), BinaryDataFromInt(0x0A000001));
    EXPECT_EQ(Bytes({0xAA, 0xAA, 0xAA}), BinaryDataFromRepeatedByte(0xAA, 3));
    EXPECT_EQ(0UL, BinaryDataFromRepeatedByte(0xAA, 0).Length());
    EXPECT_EQ(Bytes({0x99, 0x9F}), GetBcdDataFromString("999"));
}

TEST(BinaryDataReadersTest, DecimalText) {
    const T_BinaryData text(std::string("x1234-5"));
    EXPECT_EQ(1234, text.ToInt(1, 4));
    EXPECT_EQ(34, text.ToInt(3, 2));
    EXPECT_EQ(0, text.ToInt(5, 0xFFFFFFFF));  // "-5" is negative
    EXPECT_EQ(0, text.ToInt(100, 2));
}

TEST(BinaryDataReadersTest, BcdAmounts) {
    struct Case {
        Vec bytes;
        unsigned long amount;
    };
    const Case cases[] = {
        {{0x00, 0x00, 0x00, 0x01, 0x23, 0x45}, 12345},
        {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0},
        {{0x00, 0x42, 0x94, 0x96, 0x72, 0x96}, 0xFFFFFFFF},
        {{0x99, 0x99, 0x99, 0x99, 0x99, 0x99}, 0xFFFFFFFF},
        // Beyond the signed range, up to the largest amount.
        {{0x00, 0x30, 0x00, 0x00, 0x00, 0x00}, 3000000000UL},
        {{0x00, 0x42, 0x94, 0x96, 0x72, 0x95}, 4294967295UL},
        // More than 32 bits spelled past the comparison: too large, not wrapped.
        {{0x00, 0x00, 0x99, 0x99, 0x99, 0x99, 0x99}, 0xFFFFFFFF},
        {{0x00, 0x00, 0x00, 0x00, 0x01, 0x23, 0x45}, 12345},
    };
    for (const Case& c : cases) {
        const T_BinaryData data(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(c.amount, data.AsBcdAmount()) << data.ToAscii();
    }
}

TEST(BinaryDataTextTest, ToString) {
    const T_BinaryData data(std::string("ab\0cd", 5));
    EXPECT_EQ(std::string("ab\0cd", 5), data.ToString());
    EXPECT_EQ(std::string("b\0cd", 4), data.ToString(1, 0));
    EXPECT_EQ("cd", data.ToString(3, 0xFFFFFFFF));
    EXPECT_EQ("b", data.ToString(1, 1));
    EXPECT_EQ("", data.ToString(9, 2));
    EXPECT_EQ("", T_BinaryData().ToString());
}

TEST(BinaryDataTextTest, Hexadecimal) {
    EXPECT_EQ("01ABFF", Bytes({0x01, 0xAB, 0xFF}).ToAscii());
    EXPECT_EQ("", T_BinaryData().ToAscii());

    struct Case {
        Vec bytes;
        std::string trimmed;
    };
    const Case cases[] = {
        {{0x12, 0x3F}, "123"},
        {{0x12, 0xFF}, "12F"},
        {{0x12, 0x34}, "1234"},
        {{}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.trimmed, T_BinaryData(c.bytes.data(), c.bytes.size()).ToAsciiTrimF());
    }
}

TEST(BinaryDataTextTest, FromAsciiReplacesTheContents) {
    struct Case {
        std::string hex;
        Vec bytes;
    };
    const Case cases[] = {
        {"123", {0x12, 0x3F}},
        {"0A1B", {0x0A, 0x1B}},
        {"", {}},
        {"12G456", {0x12, 0x00, 0x00}},  // bytes after a bad digit stay 0
        {"1a", {0x10}},                  // lower case is not a digit
    };
    for (const Case& c : cases) {
        T_BinaryData data = Bytes({0xEE, 0xEE, 0xEE, 0xEE});
        const T_BinaryData copy = data;
        data.FromAscii(c.hex);
        EXPECT_EQ(c.bytes, ToVector(data)) << c.hex;
        EXPECT_EQ(Bytes({0xEE, 0xEE, 0xEE, 0xEE}), copy);
    }
    const T_BinaryData text(std::string("0A1B"));
    EXPECT_EQ(Bytes({0x0A, 0x1B}), text.AsciiToBinary());
    EXPECT_EQ(T_BinaryData(std::string("0A1B")), text);
}

TEST(BinaryDataTextTest, Base64ReplacesTheContentsWithTheDecodedBytesOnly) {
    // Padded groups yield fewer bytes than the decoder writes.
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(encoded, T_BinaryData(plain).EncodeToBase64());
        T_BinaryData decoded = Bytes({0xEE});
        EXPECT_TRUE(decoded.DecodeFromBase64(encoded)) << encoded;
        EXPECT_EQ(T_BinaryData(plain), decoded) << encoded;
    }
}

TEST(BinaryDataTextTest, BadBase64LeavesTheBufferEmpty) {
    for (const std::string text : {"Zm9", "Zm9*", "Zg=x", "Zm9vYg"}) {
        T_BinaryData data = Bytes({1, 2, 3});
        const T_BinaryData copy = data;
        EXPECT_FALSE(data.DecodeFromBase64(text)) << text;
        EXPECT_EQ(0UL, data.Length()) << text;
        EXPECT_EQ(Bytes({1, 2, 3}), copy);
    }
    T_BinaryData data;
    EXPECT_TRUE(data.DecodeFromBase64("Zm9vYmFy", 4));  // only the first group
    EXPECT_EQ(T_BinaryData(std::string("foo")), data);
}

TEST(BinaryDataBitsTest, BytewiseOperatorsKeepTheLongerTail) {
    const T_BinaryData a = Bytes({0x01, 0x02, 0x03});
    const T_BinaryData b = Bytes({0x0F});
    EXPECT_EQ(Bytes({0x01, 0x02, 0x03}), a & b);
    EXPECT_EQ(Bytes({0x01, 0x02, 0x03}), b & a);
    EXPECT_EQ(Bytes({0x0F, 0x02, 0x03}), a | b);
    EXPECT_EQ(Bytes({0x0E, 0x02, 0x03}), b ^ a);
    EXPECT_EQ(Bytes({0xFF}), Bytes({0xF0}) | Bytes({0x0F}));
    EXPECT_EQ(Bytes({0xFF, 0x00}), ~Bytes({0x00, 0xFF}));
    EXPECT_EQ(0UL, (~T_BinaryData()).Length());
    EXPECT_EQ(Bytes({0x01, 0x02, 0x03}), a);
    EXPECT_EQ(Bytes({0x0F}), b);
}

TEST(BinaryDataBitsTest, InPlaceOperationsKeepTheLength) {
    struct Case {
        const char* name;
        Vec target, other, expected;
        void (*op)(T_BinaryData&, const T_BinaryData&);
    };
    const auto xorAssign = [](T_BinaryData& t, const T_BinaryData& o) { t ^= o; };
    const auto addBytes = [](T_BinaryData& t, const T_BinaryData& o) { t.AddByteToByte(o); };
    const Case cases[] = {
        {"^= longer", {0x01, 0x02}, {0x03, 0x03, 0x03}, {0x02, 0x01}, xorAssign},
        {"^= shorter", {0x01, 0x02}, {0x03}, {0x02, 0x02}, xorAssign},
        {"^= empty", {0x01}, {}, {0x01}, xorAssign},
        {"add without carry", {0xFF, 0x01}, {0x02, 0x02}, {0x01, 0x03}, addBytes},
        {"add shorter", {0x10, 0x20}, {0x01}, {0x11, 0x20}, addBytes},
    };
    for (const Case& c : cases) {
        T_BinaryData target(c.target.data(), c.target.size());
        const T_BinaryData before = target;
        c.op(target, T_BinaryData(c.other.data(), c.other.size()));
        EXPECT_EQ(c.expected, ToVector(target)) << c.name;
        EXPECT_EQ(c.target, ToVector(before)) << c.name;
    }
    T_BinaryData self = Bytes({0x5A, 0xA5});
    self ^= self;
    EXPECT_EQ(Bytes({0x00, 0x00}), self);
}

TEST(BinaryDataBitsTest, Increments) {
    struct Case {
        Vec before, lsb, msb;
    };
    const Case cases[] = {
        {{0xFF, 0xFF, 0x01}, {0x00, 0x00, 0x02}, {0xFF, 0xFF, 0x02}},
        {{0x01, 0xFF, 0xFF}, {0x02, 0xFF, 0xFF}, {0x02, 0x00, 0x00}},
        {{0xFF, 0xFF}, {0x00, 0x00}, {0x00, 0x00}},
        {{}, {}, {}},
    };
    for (const Case& c : cases) {
        const T_BinaryData original(c.before.data(), c.before.size());
        T_BinaryData lsb = original;
        T_BinaryData msb = original;
        lsb.IncrementAsLSB();
        msb.IncrementAsMSB();
        EXPECT_EQ(c.lsb, ToVector(lsb));
        EXPECT_EQ(c.msb, ToVector(msb));
        EXPECT_EQ(c.before, ToVector(original));
    }
}

TEST(BinaryDataBitsTest, ParityBits) {
    EXPECT_EQ(Bytes({0x80, 0x01, 0x00}), Bytes({0x00, 0x01, 0x80}).ForceOddBits());
    EXPECT_EQ(Bytes({0x81, 0x03}), Bytes({0x01, 0x03}).ForceEvenBits());
    // A byte whose bit 7 is clear gets the parity asked for; bits 0-6 stay.
    for (unsigned b = 0; b < 0x80; ++b) {
        const T_BinaryData byte(static_cast<unsigned char>(b));
        const unsigned char odd = byte.ForceOddBits()[0];
        const unsigned char even = byte.ForceEvenBits()[0];
        EXPECT_EQ(1, std::popcount(odd) % 2) << b;
        EXPECT_EQ(0, std::popcount(even) % 2) << b;
        EXPECT_EQ(b, odd & 0x7FU);
        EXPECT_EQ(b, even & 0x7FU);
    }
}

TEST(BinaryDataCompareTest, LexicographicOverUnsignedBytes) {
    struct Case {
        Vec a, b;
        bool less, lessOrEqual, equal;
    };
    const Case cases[] = {
        {{1, 2}, {1, 2, 3}, true, true, false}, {{1, 2, 3}, {2}, true, true, false},
        {{1, 2}, {1, 2}, false, true, true},    {{0x80}, {0x7F}, false, false, false},
        {{}, {0}, true, true, false},           {{}, {}, false, true, true},
    };
    for (const Case& c : cases) {
        const T_BinaryData a(c.a.data(), c.a.size());
        const T_BinaryData b(c.b.data(), c.b.size());
        EXPECT_EQ(c.less, a < b) << ::testing::PrintToString(a) << ::testing::PrintToString(b);
        EXPECT_EQ(c.lessOrEqual, a <= b) << ::testing::PrintToString(a);
        EXPECT_EQ(c.equal, a == b) << ::testing::PrintToString(a);
        EXPECT_EQ(!c.equal, a != b) << ::testing::PrintToString(a);
    }
    // Equality looks at the bytes, not at the block that holds them.
    const T_BinaryData whole = Bytes({9, 1, 2});
    EXPECT_EQ(Bytes({1, 2}), whole.Copy(1, 2));
}

}  // namespace

namespace {

TEST(BinaryDataFileTest, SavesAndReadsFilesWhole) {
    TempDir dir;
    TLinFileSystem fs(dir.Path().c_str());
    const T_BinaryData content(std::string("line 1\r\n\0\xFF tail", 15));
    {
        std::unique_ptr<IFileWritable> file(fs.OpenForWrite("data.bin", FILE_MODE_TRUNCATE));
        ASSERT_NE(nullptr, file);
        content.SaveToFile(*file);
        T_BinaryData().SaveToFile(*file);
    }
    EXPECT_EQ(content.ToString(), dir.ReadFile("data.bin"));

    std::unique_ptr<IFileReadable> file(fs.OpenForRead("data.bin"));
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(content, T_BinaryData(*file));

    dir.WriteFile("empty.txt", "");
    std::unique_ptr<IFileReadable> empty(fs.OpenForRead("empty.txt"));
    ASSERT_NE(nullptr, empty);
    T_BinaryData data = Bytes({1, 2});
    data.ReadFromFile(*empty);
    EXPECT_EQ(0UL, data.Length());
}

// A file whose length and single read are scripted.
class ScriptedFile : public IFileReadable {
  public:
    ScriptedFile(long length, long readResult) : m_length(length), m_readResult(readResult) {}
    long Read(unsigned char* buffer, unsigned long count) override {
        ++reads;
        if (m_readResult > 0) {
            std::memset(buffer, 0x5A, std::min<unsigned long>(count, m_readResult));
        }
        return m_readResult;
    }
    long Seek(unsigned long) override { return -1; }
    long Tell() override { return 0; }
    long GetLength() override { return m_length; }
    int reads = 0;

  private:
    long m_length;
    long m_readResult;
};

TEST(BinaryDataFileTest, TakesOnlyTheBytesActuallyRead) {
    struct Case {
        const char* name;
        long length, readResult;
        unsigned long expectedLength;
        int reads;
    };
    const Case cases[] = {
        {"whole file", 8, 8, 8, 1},   {"short read", 8, 3, 3, 1}, {"failed read", 8, -1, 0, 1},
        {"nothing read", 8, 0, 0, 1}, {"empty file", 0, 5, 0, 0}, {"unknown length", -1, 5, 0, 0},
    };
    for (const Case& c : cases) {
        ScriptedFile file(c.length, c.readResult);
        T_BinaryData data = Bytes({1, 2, 3});
        data.ReadFromFile(file);
        EXPECT_EQ(c.expectedLength, data.Length()) << c.name;
        EXPECT_EQ(c.reads, file.reads) << c.name;
        EXPECT_EQ(BinaryDataFromRepeatedByte(0x5A, c.expectedLength), data) << c.name;
    }
}

}  // namespace
