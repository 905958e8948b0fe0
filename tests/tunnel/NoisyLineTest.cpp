#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/MemoryTransfer.h"

namespace {

// The agent's tunnel over an in-memory line that damages what it carries: each byte has its
// own chance of one flipped bit and of vanishing, drawn from a fixed seed. A download and an
// upload of checked data run at once through the agent's real TCP connections, with either
// terminal on the other end.
struct NoiseCase {
    const char* name;
    TTerminalKind terminal;
    double bitErrorRate;  // per bit of every byte sent, either way
    double byteDropRate;
};

void PrintTo(const NoiseCase& c, std::ostream* os) {
    *os << Name(c.terminal) << " " << c.name;
}

constexpr std::size_t kTransferSize = 24 * 1024;
constexpr unsigned kSeeds = 4;

class NoisyLineTest : public ::testing::TestWithParam<NoiseCase> {};

TEST_P(NoisyLineTest, EveryByteArrivesIntactAndEveryTransferCompletesOrIsClosed) {
    const NoiseCase& c = GetParam();
    TTransferTally tally;
    for (unsigned seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        TTransferPlan plan;
        plan.terminal = c.terminal;
        plan.download = true;
        plan.upload = true;
        plan.bytes = kTransferSize;
        plan.bitErrorRate = c.bitErrorRate;
        plan.byteDropRate = c.byteDropRate;
        plan.seed = seed;
        const TTransferRun run = RunMemoryTransfer(plan);
        for (const TTransferOutcome* outcome : {&run.download, &run.upload}) {
            const char* what = outcome == &run.download ? "download" : "upload";
            tally.Add(*outcome, c.terminal);
            EXPECT_FALSE(outcome->wrongBytes) << what << " delivered " << outcome->delivered;
            EXPECT_FALSE(IsSilentFailure(*outcome, c.terminal))
                << what << " delivered " << outcome->delivered << ", closed " << outcome->closed
                << " after " << outcome->closeAfterMs << " ms";
        }
        // The agent still serves: a new call over the now quiet line is answered.
        EXPECT_TRUE(run.serviceBack);
    }
    std::printf("[ noise %s, %s ]%s\n", c.name, Name(c.terminal), tally.Row().c_str());
    if (c.bitErrorRate == 0 && c.byteDropRate == 0) {
        EXPECT_EQ(tally.completed, tally.runs);
    }
}

std::string CaseName(const ::testing::TestParamInfo<NoiseCase>& info) {
    return std::string(info.param.name) + "_" + Name(info.param.terminal);
}

INSTANTIATE_TEST_SUITE_P(Rates, NoisyLineTest,
                         ::testing::Values(NoiseCase{"clean", TTerminalKind::Ours, 0, 0},
                                           NoiseCase{"ber_1e5", TTerminalKind::Ours, 1e-5, 0},
                                           NoiseCase{"ber_1e4", TTerminalKind::Ours, 1e-4, 0},
                                           NoiseCase{"ber_1e3", TTerminalKind::Ours, 1e-3, 0},
                                           NoiseCase{"drops_1e3", TTerminalKind::Ours, 0, 1e-3},
                                           NoiseCase{"clean", TTerminalKind::Model, 0, 0},
                                           NoiseCase{"ber_1e5", TTerminalKind::Model, 1e-5, 0},
                                           NoiseCase{"ber_1e4", TTerminalKind::Model, 1e-4, 0},
                                           NoiseCase{"ber_1e3", TTerminalKind::Model, 1e-3, 0},
                                           NoiseCase{"drops_1e3", TTerminalKind::Model, 0, 1e-3}),
                         CaseName);

}  // namespace
