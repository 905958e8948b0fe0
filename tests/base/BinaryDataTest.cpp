#include "base/BinaryData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <string>

#include "support/Bytes.h"

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
