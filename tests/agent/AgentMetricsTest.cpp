// The metrics file: its text is what Prometheus's own promtool accepts, each
// series with the figure it names; the keeper writes it at the status file's
// moments; a link in its place is left alone.

#include "agent/AgentMetrics.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ProjectVersion.h"
#include "agent/ServiceNotifier.h"
#include "agent/StatusKeeper.h"
#include "agent/TraceProblems.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/TestSystem.h"

namespace {

namespace fs = std::filesystem;

std::int64_t UnixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The sample lines of a text, without the HELP and TYPE lines.
std::vector<std::string> Samples(const std::string& text) {
    std::vector<std::string> samples;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("#")) {
            samples.push_back(line);
        }
    }
    return samples;
}

// What "promtool check metrics" says of text: empty when it accepts it
// without a remark.
std::string PromtoolRemarks(const TempDir& directory, const std::string& text) {
    directory.WriteFile("checked.prom", text);
    const std::string out = directory / "promtool.out";
    ChildProcess promtool({"promtool", "check", "metrics"}, {.directory = directory.Path(),
                                                             .input = directory / "checked.prom",
                                                             .output = out,
                                                             .error = out});
    const std::optional<int> status = promtool.WaitForExit(20000);
    const std::string remarks = directory.ReadFile("promtool.out");
    return status == 0 ? remarks : "status " + std::to_string(status.value_or(-1)) + ": " + remarks;
}

TEST(AgentMetricsTest, EverySeriesCarriesItsFigureAndPromtoolAcceptsTheText) {
    TAgentStatus status;
    status.state = TServiceStatus::EState::Serving;
    status.port = "ttyS0";
    status.linkUp = true;
    TTunnelCounters& c = status.counters;
    c.framesSent = 101;
    c.framesReceived = 102;
    c.naksSent = 3;
    c.naksReceived = 4;
    c.repeatsSent = 5;
    c.repeatsReceived = 6;
    c.linkResets = 7;
    c.streamBreaks = 8;
    c.closesAfterLoss = 9;
    c.callsRefused = 10;
    c.peerResets = 11;
    c.probesSent = 12;
    c.bytesToPeers = 10'000'000'000;
    c.bytesFromPeers = 14;
    status.connections.resize(2);
    const TAgentMetrics metrics("/x/lane.prom", "lane1", 1'700'000'000);
    const std::string text = metrics.Text(status, 1'700'000'123);

    const std::string labels = R"(port="ttyS0",agent_instance="lane1")";
    const std::vector<std::string> expected{
        std::string(R"(pinpad_agent_build_info{version=")") + kProjectVersion + "\"," + labels +
            "} 1",
        "pinpad_agent_start_time_seconds{" + labels + "} 1700000000",
        R"(pinpad_agent_state{state="no-port",)" + labels + "} 0",
        R"(pinpad_agent_state{state="disabled",)" + labels + "} 0",
        R"(pinpad_agent_state{state="port-unavailable",)" + labels + "} 0",
        R"(pinpad_agent_state{state="serving",)" + labels + "} 1",
        R"(pinpad_agent_state{state="line-lost",)" + labels + "} 0",
        "pinpad_agent_link_up{" + labels + "} 1",
        "pinpad_agent_last_reset_timestamp_seconds{" + labels + "} 1700000123",
        "pinpad_agent_frames_sent_total{" + labels + "} 101",
        "pinpad_agent_frames_received_total{" + labels + "} 102",
        "pinpad_agent_naks_sent_total{" + labels + "} 3",
        "pinpad_agent_naks_received_total{" + labels + "} 4",
        "pinpad_agent_repeats_sent_total{" + labels + "} 5",
        "pinpad_agent_repeats_received_total{" + labels + "} 6",
        "pinpad_agent_stream_breaks_total{" + labels + "} 8",
        "pinpad_agent_link_resets_total{" + labels + "} 7",
        "pinpad_agent_terminal_resets_total{" + labels + "} 11",
        "pinpad_agent_probes_sent_total{" + labels + "} 12",
        "pinpad_agent_calls_refused_total{" + labels + "} 10",
        "pinpad_agent_closes_after_loss_total{" + labels + "} 9",
        "pinpad_agent_tcp_sent_bytes_total{" + labels + "} 10000000000",
        "pinpad_agent_tcp_received_bytes_total{" + labels + "} 14",
        "pinpad_agent_connections{" + labels + "} 2",
    };
    EXPECT_EQ(Samples(text), expected);

    TempDir directory;
    EXPECT_EQ(PromtoolRemarks(directory, text), "");
}

// Before the first reset its time is left out, not written as 0; without a
// port or an instance their labels are left out; a label value is escaped.
TEST(AgentMetricsTest, WhatIsNotKnownIsLeftOutAndLabelsAreEscaped) {
    TAgentStatus status;  // no port: the agent ends
    const std::string lone = TAgentMetrics("/x/a.prom", "", 0).Text(status, std::nullopt);
    EXPECT_EQ(lone.find("last_reset"), std::string::npos) << lone;
    EXPECT_NE(lone.find("\npinpad_agent_link_up 0\n"), std::string::npos) << lone;
    EXPECT_NE(lone.find("\npinpad_agent_state{state=\"no-port\"} 1\n"), std::string::npos) << lone;

    status.port = "odd\"name\\\n";
    const std::string odd = TAgentMetrics("/x/a.prom", "", 0).Text(status, std::nullopt);
    EXPECT_NE(odd.find("\npinpad_agent_link_up{port=\"odd\\\"name\\\\\\n\"} 0\n"),
              std::string::npos)
        << odd;
    TempDir directory;
    EXPECT_EQ(PromtoolRemarks(directory, odd), "");
}

// The keeper on the fake clock of a test system, writing the metrics file.
class MetricsKeeperTest : public testing::Test {
  protected:
    void Start() {
        m_keeper.WriteMetricsInto(
            m_directory / "agent.prom", "front",
            [this](const TStatusFile::TProblem& problem) { m_problems.push_back(problem); });
        m_keeper.SettingsRead(9);
    }

    TTestSystem m_system;
    TempDir m_directory;
    TServiceNotifier m_notifier;  // the test runs without a service manager
    TStatusKeeper m_keeper{m_notifier};
    std::vector<TStatusFile::TProblem> m_problems;
};

TEST_F(MetricsKeeperTest, WrittenAtTheStatusMomentsWithTheTimeOfTheLastReset) {
    Start();
    const std::int64_t before = UnixNow();
    m_keeper.ServingStarted();
    const std::int64_t after = UnixNow();
    TTunnelSample sample;
    sample.linkUp = true;
    sample.counters.naksSent = 2;
    m_keeper.Observe(sample);
    EXPECT_EQ(m_keeper.Writes(), 1u);
    std::string text = m_directory.ReadFile("agent.prom");
    EXPECT_NE(
        text.find("\npinpad_agent_naks_sent_total{port=\"ttyS99\",agent_instance=\"front\"} 2\n"),
        std::string::npos)
        << text;
    const std::string reset =
        "pinpad_agent_last_reset_timestamp_seconds{port=\"ttyS99\","
        "agent_instance=\"front\"} ";
    const std::size_t at = text.find(reset);
    ASSERT_NE(at, std::string::npos) << text;
    const std::int64_t seconds = std::stoll(text.substr(at + reset.size()));
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);

    // Quiet figures go out with the status every five seconds, not sooner.
    sample.counters.naksSent = 3;
    m_system.Clock().Advance(TStatusKeeper::kPeriodMs - 1);
    m_keeper.Observe(sample);
    EXPECT_EQ(m_directory.ReadFile("agent.prom"), text);
    m_system.Clock().Advance(1);
    m_keeper.Observe(sample);
    text = m_directory.ReadFile("agent.prom");
    EXPECT_NE(text.find("naks_sent_total{port=\"ttyS99\",agent_instance=\"front\"} 3\n"),
              std::string::npos)
        << text;
    EXPECT_TRUE(m_problems.empty());
    EXPECT_FALSE(m_directory.Exists("Status.json")) << "only the metrics were asked for";
}

// The node exporter runs as a user of its own: it may read the file
// whatever the agent's umask (the units set 0027).
TEST_F(MetricsKeeperTest, AnyoneMayReadTheFile) {
    Start();
    const mode_t umaskBefore = umask(027);
    m_keeper.ServingStarted();
    m_keeper.Observe(TTunnelSample());
    umask(umaskBefore);
    struct stat status {};
    ASSERT_EQ(stat((m_directory / "agent.prom").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
}

TEST_F(MetricsKeeperTest, ALinkInTheFilesPlaceIsLeftAloneAndTheKeeperGoesOn) {
    m_directory.WriteFile("target", "kept");
    fs::create_symlink("target", m_directory / "agent.prom");
    Start();
    m_keeper.ServingStarted();
    m_keeper.Observe(TTunnelSample());
    m_system.Clock().Advance(TStatusKeeper::kPeriodMs);
    m_keeper.Observe(TTunnelSample());
    EXPECT_EQ(m_keeper.Writes(), 2u);
    ASSERT_EQ(m_problems.size(), 2u);
    EXPECT_EQ(m_problems[0].obstacle, "a symbolic link");
    EXPECT_TRUE(fs::is_symlink(m_directory / "agent.prom"));
    EXPECT_EQ(m_directory.ReadFile("target"), "kept");
}

// Each run tells the first problem of the metrics file only, named by its path.
TEST(MetricsProblemsTest, TheFirstProblemIsToldOnce) {
    struct TCase {
        TStatusFile::TProblem first;
        std::string told;
    };
    const TCase cases[] = {
        {{EEXIST, "a symbolic link"},
         "/m/a.prom is a symbolic link; the metrics are not written into it"},
        {{ENOENT, ""}, "cannot write the metrics file /m/a.prom: No such file or directory"},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> told;
        TTraceProblems problems("/t", [&told](const std::string& line) { told.push_back(line); });
        problems.OnMetricsFailure("/m/a.prom", c.first);
        problems.OnMetricsFailure("/m/a.prom", c.first);
        problems.OnMetricsFailure("/m/a.prom", {EACCES, ""});
        EXPECT_EQ(told, std::vector<std::string>{c.told});
    }
}

}  // namespace
