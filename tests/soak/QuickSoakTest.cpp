// The tunnel end to end through a noisy line, briefly: the real agent, the
// line simulator and either terminal, our own half or the model of the
// terminal as the field runs it. The long runs are in tests/soak-long.

#include <gtest/gtest.h>

#include <cstdio>

#include "tunnel-rig/TunnelRig.h"

namespace {

// What every transfer must end with on any line: all of it, correct and in
// order, or an explicit close; never a wrong byte, never silence.
void ExpectCompletedOrClosed(const TLoadReport& report) {
    const std::string result = report.Text("result");
    EXPECT_TRUE(result == "completed" || result == "closed") << report.Line();
    if (result == "completed") {
        EXPECT_EQ(report.Number("delivered"), report.Number("requested")) << report.Line();
    }
}

struct TSoakCase {
    TTerminalKind terminal;
    double ber;
    bool allComplete;
};

// Transfers and round trips, then a new call, which the agent must serve whatever happened.
// A transfer that shows no progress for stallSeconds fails.
void RunCheckedTransfers(const TSoakCase& c, unsigned stallSeconds) {
    SCOPED_TRACE(std::string(Name(c.terminal)) + ", bit-error rate " + std::to_string(c.ber));
    TTunnelRig rig(TLineSettings{.rate = 0, .ber = c.ber, .seed = 11});
    rig.UseTerminal(c.terminal);
    const auto reports = rig.Load({"download", "32K", "upload", "32K", "echo", "20"}, stallSeconds);
    ASSERT_EQ(reports.size(), 3u);
    for (const TLoadReport& report : reports) {
        std::printf("[ %s, ber %g ] %s\n", Name(c.terminal), c.ber, report.Line().c_str());
        ExpectCompletedOrClosed(report);
        if (c.allComplete) {
            EXPECT_EQ(report.Text("result"), "completed") << report.Line();
        }
    }
    const auto after = rig.Load({"probe", "10"});
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].Text("result"), "completed") << after[0].Line();
}

TEST(QuickSoakTest, CheckedTransfersOnACleanAndANoisyLine) {
    for (const TSoakCase& c :
         {TSoakCase{TTerminalKind::Ours, 0, true}, TSoakCase{TTerminalKind::Ours, 1e-5, false},
          TSoakCase{TTerminalKind::Model, 0, true}}) {
        RunCheckedTransfers(c, 20);
    }
}

// The model gives no repeat and drops what it queued without a word: every transfer still
// completes or ends with a close within 5 s, and the agent still serves.
TEST(QuickSoakTest, TheModelOnANoisyLine) {
    RunCheckedTransfers({TTerminalKind::Model, 1e-4, false}, 5);
}

}  // namespace
