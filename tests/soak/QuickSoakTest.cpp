// The tunnel end to end through a noisy line, briefly: the real agent, the
// line simulator and our terminal half. The long runs are in tests/soak-long.

#include <gtest/gtest.h>

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

TEST(QuickSoakTest, CheckedTransfersOnACleanAndANoisyLine) {
    struct TCase {
        double ber;
        bool allComplete;
    };
    for (const TCase& c : {TCase{0, true}, TCase{1e-5, false}}) {
        SCOPED_TRACE("bit-error rate " + std::to_string(c.ber));
        TTunnelRig rig(TLineSettings{.rate = 0, .ber = c.ber, .seed = 11});
        const auto reports = rig.Load({"download", "32K", "upload", "32K", "echo", "20"});
        ASSERT_EQ(reports.size(), 3u);
        for (const TLoadReport& report : reports) {
            ExpectCompletedOrClosed(report);
            if (c.allComplete) {
                EXPECT_EQ(report.Text("result"), "completed") << report.Line();
            }
        }
        // Whatever happened, the agent still serves a new call.
        const auto after = rig.Load({"probe", "10"});
        ASSERT_EQ(after.size(), 1u);
        EXPECT_EQ(after[0].Text("result"), "completed") << after[0].Line();
    }
}

}  // namespace
