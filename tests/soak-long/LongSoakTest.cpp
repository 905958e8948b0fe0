// The tunnel's long soak runs (make soak): checked transfers through the
// real agent on lines from clean to very noisy, the line's troubles while a
// connection is open, a flood from the network and many short calls, each
// against both terminals where it matters: our own half and the model of the
// terminal as the field runs it. The same transfers run in memory under the
// fake clock with many seeds. Each run prints what it measured.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "support/MemoryTransfer.h"
#include "tunnel-rig/TunnelRig.h"

namespace {

constexpr double kLineRate = 11520;
// A service that has come back answers a probe within this time.
constexpr double kRecoveryLimitMs = 10000;

struct TTally {
    unsigned completed = 0;
    unsigned closed = 0;
    unsigned failed = 0;  // a wrong byte, a stall or a call that never connected
    double delivered = 0;

    void Add(const TTally& other) {
        completed += other.completed;
        closed += other.closed;
        failed += other.failed;
        delivered += other.delivered;
    }
};

TTally Count(const std::vector<TLoadReport>& reports) {
    TTally tally;
    for (const TLoadReport& report : reports) {
        const std::string result = report.Text("result");
        tally.completed += result == "completed";
        tally.closed += result == "closed";
        tally.failed += result != "completed" && result != "closed";
        tally.delivered += std::max(0.0, report.Number("delivered"));
        EXPECT_TRUE(result == "completed" || result == "closed") << report.Line();
    }
    return tally;
}

// Every run ends with a probe from the same terminal: a new call and a
// round trip must work again soon after whatever happened before.
const std::vector<std::string> kProbe = {"probe", "15"};

void ExpectServiceBack(const TLoadReport& probe) {
    EXPECT_EQ(probe.Text("test"), "probe") << probe.Line();
    EXPECT_EQ(probe.Text("result"), "completed") << probe.Line();
    EXPECT_LE(probe.Number("ms"), kRecoveryLimitMs) << probe.Line();
    std::printf("  a new call afterwards: %s after %.0f ms (%s attempts)\n",
                probe.Text("result").c_str(), probe.Number("ms"), probe.Text("attempts").c_str());
    std::fflush(stdout);
}

// The transfers' tally, and the probe after them.
TTally CountAndProbe(std::vector<TLoadReport> reports) {
    if (reports.empty()) {
        ADD_FAILURE() << "tunnel-load reported nothing";
        return {};
    }
    const TLoadReport probe = reports.back();
    reports.pop_back();
    const TTally tally = Count(reports);
    ExpectServiceBack(probe);
    return tally;
}

// Seconds without progress that fail a transfer: a close must come within 5 s against the
// model; our own half sends an unanswered portion again for up to 16 s first.
unsigned StallSeconds(TTerminalKind terminal) {
    return terminal == TTerminalKind::Model ? 5 : 20;
}

constexpr unsigned kSeeds = 5;
const double kBitErrorRates[] = {0.0, 1e-5, 1e-4, 1e-3};

TEST(LongSoakTest, TransfersAtEveryBitErrorRate) {
    std::printf("\nChecked transfers of 64 KiB each way, paced line at %.0f bytes/s, %u seeds\n",
                kLineRate, kSeeds);
    struct TRow {
        TTerminalKind terminal;
        double ber;
        const char* direction;
        TTally tally;
    };
    std::vector<TRow> table;
    for (const TTerminalKind terminal : {TTerminalKind::Ours, TTerminalKind::Model}) {
        for (const double ber : kBitErrorRates) {
            SCOPED_TRACE(std::string(Name(terminal)) + ", bit-error rate " + std::to_string(ber));
            std::printf("%s, bit-error rate %g:\n", Name(terminal), ber);
            std::fflush(stdout);
            TTally down;
            TTally up;
            for (unsigned seed = 1; seed <= kSeeds; ++seed) {
                TTunnelRig rig(TLineSettings{.rate = kLineRate, .ber = ber, .seed = 2025 + seed});
                rig.UseTerminal(terminal);
                std::vector<std::string> tests = {"download", "64K", "upload", "64K"};
                tests.insert(tests.end(), kProbe.begin(), kProbe.end());
                const std::vector<TLoadReport> reports = rig.Load(tests, StallSeconds(terminal));
                for (const TLoadReport& report : reports) {
                    std::printf("  seed %u: %s\n", seed, report.Line().c_str());
                }
                std::fflush(stdout);
                if (reports.size() != 3) {
                    ADD_FAILURE() << "tunnel-load reported " << reports.size() << " of 3";
                    continue;
                }
                const TTally one = Count({reports[0]});
                const TTally two = Count({reports[1]});
                down.Add(one);
                up.Add(two);
                ExpectServiceBack(reports[2]);
            }
            table.push_back({terminal, ber, "download", down});
            table.push_back({terminal, ber, "upload", up});
        }
    }
    std::printf("\n%-8s %-9s %-8s %6s %10s %7s %7s %16s\n", "terminal", "direction", "BER", "runs",
                "completed", "closed", "failed", "bytes delivered");
    for (const TRow& row : table) {
        std::printf("%-8s %-9s %-8g %6u %10u %7u %7u %16.0f\n", Name(row.terminal), row.direction,
                    row.ber, row.tally.completed + row.tally.closed + row.tally.failed,
                    row.tally.completed, row.tally.closed, row.tally.failed, row.tally.delivered);
    }
    std::fflush(stdout);
}

// Runs of one kind in memory: a direction at a bit-error rate against a terminal, with the
// measures of the agent's frame level (and of our half's) as given.
struct TMemoryRuns {
    TTransferTally tally;
    unsigned serviceFailures = 0;
    // The seeds of runs that went wrong (a wrong byte, silence, no service), to replay them.
    std::string badSeeds;
};

TMemoryRuns RunInMemory(TTerminalKind terminal, double ber, bool download, unsigned seeds,
                        TFrameOptions options = TFrameOptions()) {
    TMemoryRuns runs;
    for (unsigned seed = 1; seed <= seeds; ++seed) {
        TTransferPlan plan;
        plan.terminal = terminal;
        plan.download = download;
        plan.upload = !download;
        plan.bitErrorRate = ber;
        plan.seed = seed;
        plan.agentOptions = options;
        plan.ourTerminalOptions = options;
        const TTransferRun run = RunMemoryTransfer(plan);
        const TTransferOutcome& outcome = download ? run.download : run.upload;
        runs.tally.Add(outcome, terminal);
        runs.serviceFailures += !run.serviceBack;
        if (outcome.wrongBytes || IsSilentFailure(outcome, terminal) || !run.serviceBack) {
            runs.badSeeds += " " + std::to_string(seed);
        }
    }
    return runs;
}

// The same transfers in memory under the fake clock, with many more seeds: the completion
// table per terminal, direction and bit-error rate.
TEST(LongSoakTest, InMemoryTransfersAtEveryBitErrorRate) {
    constexpr unsigned kMemorySeeds = 40;
    std::printf("\nChecked transfers of 64 KiB in memory, paced at 11520 bytes/s, %u seeds\n",
                kMemorySeeds);
    std::printf("%-8s %-9s %-8s%s\n", "terminal", "direction", "BER",
                TTransferTally::Header().c_str());
    for (const TTerminalKind terminal : {TTerminalKind::Ours, TTerminalKind::Model}) {
        for (const double ber : kBitErrorRates) {
            for (const bool download : {true, false}) {
                const TMemoryRuns runs = RunInMemory(terminal, ber, download, kMemorySeeds);
                std::printf("%-8s %-9s %-8g%s  service failures %u%s%s\n", Name(terminal),
                            download ? "download" : "upload", ber, runs.tally.Row().c_str(),
                            runs.serviceFailures, runs.badSeeds.empty() ? "" : ", seeds",
                            runs.badSeeds.c_str());
                std::fflush(stdout);
                EXPECT_EQ(runs.tally.wrong, 0u) << Name(terminal) << " at " << ber;
                EXPECT_EQ(runs.tally.silent, 0u) << Name(terminal) << " at " << ber;
                EXPECT_EQ(runs.serviceFailures, 0u) << Name(terminal) << " at " << ber;
            }
        }
    }
}

// What each measure of the frame level against lost answers brings: the completion figures
// with all of them, without each one, and without any (both ends for our half; the model has
// none of its own).
TEST(LongSoakTest, InMemoryCompletionWithAndWithoutEachMeasure) {
    constexpr unsigned kMeasureSeeds = 20;
    struct TSetting {
        const char* name;
        TFrameOptions options;
    };
    TFrameOptions noRepair;
    noRepair.repairAnswers = false;
    TFrameOptions singleAcks;
    singleAcks.doubleAcks = false;
    TFrameOptions singleEnds;
    singleEnds.doubleDelimiters = false;
    TFrameOptions noRefresh;
    noRefresh.refreshAcks = false;
    TFrameOptions singleNotices;
    singleNotices.doubleNotices = false;
    TFrameOptions noPolls;
    noPolls.pollNext = false;
    TFrameOptions noCombining;
    noCombining.combineCopies = false;
    TFrameOptions noProbes;
    noProbes.probeUnanswered = false;
    const TSetting settings[] = {{"all measures", TFrameOptions()},
                                 {"no answer repair", noRepair},
                                 {"single ACKs", singleAcks},
                                 {"single ENDs", singleEnds},
                                 {"no ACK refresh", noRefresh},
                                 {"single notices", singleNotices},
                                 {"no polls", noPolls},
                                 {"no combining", noCombining},
                                 {"no probes", noProbes},
                                 {"no measure", TFrameOptions::AllOff()}};
    std::printf(
        "\nCompleted transfers of 64 KiB in memory, %u seeds, with and without each "
        "measure\n%-8s %-9s %-8s",
        kMeasureSeeds, "terminal", "direction", "BER");
    for (const TSetting& setting : settings) {
        std::printf(" %17s", setting.name);
    }
    std::printf("\n");
    for (const TTerminalKind terminal : {TTerminalKind::Ours, TTerminalKind::Model}) {
        for (const double ber : {1e-5, 1e-4, 1e-3}) {
            for (const bool download : {true, false}) {
                std::printf("%-8s %-9s %-8g", Name(terminal), download ? "download" : "upload",
                            ber);
                for (const TSetting& setting : settings) {
                    const TMemoryRuns runs =
                        RunInMemory(terminal, ber, download, kMeasureSeeds, setting.options);
                    std::printf(" %8u (%u wrong)", runs.tally.completed, runs.tally.wrong);
                    std::fflush(stdout);
                }
                std::printf("\n");
            }
        }
    }
}

TEST(LongSoakTest, ServiceComesBackAfterTheLinesTroubles) {
    struct TCase {
        const char* trouble;
        const char* command;     // to the line, 3 s into the download
        unsigned pauseMs;        // of the terminal, once a third has moved
        unsigned silentSeconds;  // of the line: nothing, a close neither, crosses it
    };
    const TCase cases[] = {
        {"garbage burst", "garbage 4000 both", 0, 0},
        {"silent line for 5 s", "silence 5000", 0, 5},
        {"device replaced", "replace", 0, 0},
        {"terminal away for 3 s", nullptr, 3000, 0},
    };
    std::printf("\nThe line's troubles during a 256 KiB download\n");
    for (const TTerminalKind terminal : {TTerminalKind::Ours, TTerminalKind::Model}) {
        for (const TCase& c : cases) {
            SCOPED_TRACE(std::string(Name(terminal)) + ", " + c.trouble);
            TTunnelRig rig(TLineSettings{.rate = kLineRate, .seed = 7});
            rig.UseTerminal(terminal);
            rig.PauseInTransfers(c.pauseMs);
            std::vector<std::string> tests = {"download", "256K"};
            tests.insert(tests.end(), kProbe.begin(), kProbe.end());
            rig.StartLoad(tests, StallSeconds(terminal) + c.silentSeconds);
            std::this_thread::sleep_for(std::chrono::seconds(3));  // the connection is open by then
            if (c.command) {
                rig.LineCommand(c.command);
            }
            const auto reports = rig.FinishLoad(60000);
            std::printf("%s, %s: download %s, %.0f bytes\n", Name(terminal), c.trouble,
                        reports.empty() ? "unreported" : reports[0].Text("result").c_str(),
                        reports.empty() ? 0.0 : reports[0].Number("delivered"));
            std::fflush(stdout);
            CountAndProbe(reports);
        }
    }
}

TEST(LongSoakTest, AFloodFromTheNetworkKeepsTheAgentSmall) {
    TTunnelRig rig(TLineSettings{.rate = 0});
    const auto start = std::chrono::steady_clock::now();
    rig.StartLoad({"download", "64M"});
    const auto reports = rig.FinishLoad(600000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long peakKb = rig.AgentStatusKb("VmHWM");
    std::printf("\n64 MiB download, unpaced line: %s after %.1f s, agent peak RSS %ld kB\n",
                reports.empty() ? "unfinished" : reports[0].Text("result").c_str(), seconds,
                peakKb);
    std::fflush(stdout);
    ASSERT_EQ(reports.size(), 1u) << "no report within 10 minutes";
    EXPECT_EQ(reports[0].Text("result"), "completed") << reports[0].Line();
    EXPECT_LT(peakKb, 16 * 1024);
}

TEST(LongSoakTest, ManyCallsLeakNoDescriptors) {
    TTunnelRig rig(TLineSettings{.rate = 0});
    ASSERT_EQ(rig.Load({"calls", "10"})[0].Text("result"), "completed");
    const std::size_t before = rig.AgentDescriptors();
    // One report at the end: the calls may take many minutes.
    rig.StartLoad({"calls", "10000"});
    const auto reports = rig.FinishLoad(30 * 60 * 1000);
    ASSERT_EQ(reports.size(), 1u);
    const std::size_t after = rig.AgentDescriptors();
    std::printf(
        "\n10000 call/close cycles: %s in %.1f s, set-up p50 %.1f ms; agent descriptors "
        "%zu before, %zu after\n",
        reports[0].Text("result").c_str(), reports[0].Number("ms") / 1000,
        reports[0].Number("p50_ms"), before, after);
    EXPECT_EQ(reports[0].Text("result"), "completed") << reports[0].Line();
    EXPECT_EQ(after, before);
}

}  // namespace
