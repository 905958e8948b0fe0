#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "platform/BufferedConnection.h"
#include "support/MemoryConnection.h"
#include "support/TestSystem.h"
#include "tunnel/FrameLevel.h"

namespace {

// Two complete line stacks (buffered connection, SLIP, frame level) joined
// back to back by a memory line, each pushing random data at the other in
// random-sized writes while the test pumps both.
struct StackCase {
    const char* name;
    bool streamMode;
    unsigned long maxSendChunk;
    unsigned long maxReceiveChunk;
    // Damage one data byte of every n-th data frame each end sends; 0: none.
    int damageEvery;
};

void PrintTo(const StackCase& c, std::ostream* os) {
    *os << c.name;
}

T_BinaryData RandomBytes(std::mt19937& random, unsigned long count) {
    std::uniform_int_distribution<int> byte(0, 255);
    T_BinaryData data;
    for (unsigned long i = 0; i < count; ++i) {
        data.AddDirectBytes(static_cast<unsigned char>(byte(random)), 1);
    }
    return data;
}

bool IsSlipSpecial(unsigned char byte) {
    return byte == SLIP::END || byte == SLIP::ESC;
}

// Counts the frames one end sends and damages some of its data frames in a
// way that keeps the framing intact, so that only the CRC can tell.
class LineTap {
  public:
    explicit LineTap(int damageEvery) : m_damageEvery(damageEvery) {}

    void operator()(std::vector<unsigned char>& chunk) {
        // One chunk is one whole frame: END (or two), type, sequence, length, ...
        std::size_t type = 0;
        while (type < chunk.size() && chunk[type] == SLIP::END) {
            ++type;
        }
        if (type == 0 || chunk.size() < type + 5) {
            return;
        }
        if (chunk[type] == TFrameHeader::kNak) {
            ++naks;
        }
        if (chunk[type] != TFrameHeader::kData || m_damageEvery == 0 ||
            ++m_dataFrames % m_damageEvery != 0) {
            return;
        }
        // Leave frames with escaped header bytes alone; pick a data byte that
        // is neither escaped nor special, and keep it that way.
        if (IsSlipSpecial(chunk[type + 1]) || IsSlipSpecial(chunk[type + 2])) {
            return;
        }
        for (std::size_t i = type + 3; i + 3 < chunk.size(); ++i) {
            if (!IsSlipSpecial(chunk[i]) && !IsSlipSpecial(chunk[i - 1])) {
                chunk[i] = chunk[i] == 0x01 ? 0x02 : 0x01;
                ++damaged;
                return;
            }
        }
    }

    int naks = 0;
    int damaged = 0;

  private:
    int m_damageEvery;
    int m_dataFrames = 0;
};

struct Endpoint {
    std::unique_ptr<TFrameLevel> level;
    T_BinaryData outgoing;
    unsigned long offered = 0;
    T_BinaryData received;
    std::shared_ptr<LineTap> tap;
};

class LineStackTest : public ::testing::TestWithParam<StackCase> {
  protected:
    TTestSystem system;  // frozen: no frame timer ever runs out
    TMemoryLine line;
    Endpoint ends[2];
    std::mt19937 random{20261210};

    void SetUp() override {
        const StackCase& c = GetParam();
        const unsigned long sizes[2] = {300000, 200000};
        for (TMemoryLine::Side side : {TMemoryLine::A, TMemoryLine::B}) {
            Endpoint& end = ends[side];
            end.level =
                std::make_unique<TFrameLevel>(new SLIP(new TBufferedConnection(line.NewEnd(side))));
            end.level->SetStreamMode(c.streamMode);
            end.outgoing = RandomBytes(random, sizes[side]);
            end.tap = std::make_shared<LineTap>(c.damageEvery);
            TMemoryLine::EndSwitches& switches = line.Switches(side);
            switches.maxSendChunk = c.maxSendChunk;
            switches.maxReceiveChunk = c.maxReceiveChunk;
            switches.tap = [tap = end.tap](std::vector<unsigned char>& chunk) { (*tap)(chunk); };
        }
    }

    bool Done() const {
        return ends[0].received.Length() == ends[1].outgoing.Length() &&
               ends[1].received.Length() == ends[0].outgoing.Length();
    }

    // One pass: each end offers a random-sized piece of what it still has to
    // send, then takes what has arrived.
    void Pump() {
        std::uniform_int_distribution<unsigned long> pieceSize(1, 1500);
        for (Endpoint& end : ends) {
            if (end.offered < end.outgoing.Length()) {
                const T_BinaryData piece = end.outgoing.Copy(end.offered, pieceSize(random));
                end.offered += piece.Length();
                EXPECT_TRUE(end.level->SendData(piece));
            }
        }
        for (Endpoint& end : ends) {
            end.received += end.level->ReceiveData();
        }
    }
};

TEST_P(LineStackTest, DeliversEverythingIntactAndInOrder) {
    int passes = 0;
    while (!Done() && passes < 200000) {
        Pump();
        ++passes;
    }
    ASSERT_TRUE(Done()) << "stalled after " << passes << " passes: A got "
                        << ends[0].received.Length() << ", B got " << ends[1].received.Length();
    EXPECT_TRUE(ends[1].received == ends[0].outgoing);
    EXPECT_TRUE(ends[0].received == ends[1].outgoing);
    for (TMemoryLine::Side side : {TMemoryLine::A, TMemoryLine::B}) {
        EXPECT_TRUE(ends[side].level->IsOnline());
        const LineTap& own = *ends[side].tap;
        const LineTap& peer = *ends[side == TMemoryLine::A ? TMemoryLine::B : TMemoryLine::A].tap;
        // Every damaged frame was refused once and sent again.
        EXPECT_EQ(peer.naks, own.damaged);
        if (GetParam().damageEvery != 0) {
            EXPECT_GT(own.damaged, 100);
        }
    }
}

constexpr unsigned long kWhole = TMemoryLine::EndSwitches::kUnlimited;

INSTANTIATE_TEST_SUITE_P(Modes, LineStackTest,
                         ::testing::Values(StackCase{"normal", false, kWhole, kWhole, 0},
                                           StackCase{"stream", true, kWhole, kWhole, 0},
                                           StackCase{"normal_trickling", false, 7, 100, 0},
                                           StackCase{"stream_trickling", true, 7, 100, 0},
                                           StackCase{"normal_damaged", false, kWhole, kWhole, 5}),
                         [](const ::testing::TestParamInfo<StackCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
