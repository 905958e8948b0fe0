// make bench: the tunnel's performance, measured on the real agent behind a
// simulated serial line with either terminal on the other end, our own half
// or the model of the terminal as the field runs it. Prints a table and
// writes the same figures as JSON (BENCH_JSON, default bench.json); the
// model's keys start with "model_".

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "agent/AgentMetrics.h"
#include "agent/CaptureRecorder.h"
#include "log/TcpConversation.h"
#include "support/Loopback.h"
#include "support/TempDir.h"
#include "tunnel-rig/TunnelRig.h"
#include "tunnel/LineCutter.h"
#include "tunnel/SlipCodec.h"

namespace {

constexpr double kLineRate = 11520;
constexpr double kMiB = 1024 * 1024;

// How long a transfer on the unpaced line may run before the figures are
// taken as they stand (BENCH_CAP_SECONDS).
int CapSeconds() {
    const char* text = std::getenv("BENCH_CAP_SECONDS");
    return text ? std::atoi(text) : 60;
}

// One line-sim count, from its JSON: direction "to_agent" or "to_terminal".
double Count(const std::string& stats, const std::string& direction, const std::string& key) {
    const std::size_t start = stats.find("\"" + direction + "\"");
    const std::size_t at = stats.find("\"" + key + "\":", start);
    return start == std::string::npos || at == std::string::npos
               ? 0
               : std::atof(stats.c_str() + at + key.size() + 3);
}

// The figures, printed as a table and kept for the JSON file.
class TBenchTable {
  public:
    void Add(const std::string& key, const std::string& label, double value, const char* unit,
             const std::string& note = "") {
        std::printf("  %-44s %12.3f %-8s %s\n", label.c_str(), value, unit, note.c_str());
        std::fflush(stdout);
        char number[32];
        std::snprintf(number, sizeof number, "%.4f", value);
        m_json += (m_json.empty() ? "" : ",\n  ") + ("\"" + key + "\": " + number);
    }
    void Section(const std::string& title) { std::printf("%s\n", title.c_str()); }
    void Write(const std::string& path) const {
        std::ofstream(path) << "{\n  " << m_json << "\n}\n";
    }

  private:
    std::string m_json;
};

// The model's figures are told apart by their keys.
std::string Prefix(TTerminalKind terminal) {
    return terminal == TTerminalKind::Model ? "model_" : "";
}

// A bare line with an echo at its far end: how fast bytes go through it.
void MeasureRawLine(TBenchTable& table) {
    TempDir directory;
    ChildProcess line({ToolPath("line-sim"), "--agent-link", directory / "far", "--terminal-link",
                       directory / "near", "--rate", std::to_string(kLineRate)});
    ASSERT_TRUE(WaitFor([&] { return directory.Exists("far") && directory.Exists("near"); }));
    ChildProcess echo({ToolPath("tunnel-load"), "--line", directory / "far", "line-echo"});
    ChildProcess check({ToolPath("tunnel-load"), "--line", directory / "near", "line-check",
                        std::to_string(static_cast<int>(kLineRate * 2))});
    const TLoadReport report = TLoadReport::Parse(check.ReadLine(30000));
    EXPECT_EQ(report.Text("result"), "completed") << report.Line();
    table.Add("raw_echo_bytes_per_s", "raw echo through the line", report.Number("bytes_per_s"),
              "B/s", "configured " + std::to_string(static_cast<int>(kLineRate)) + " B/s");
}

// A transfer on the paced line, against the line and against what
// stop-and-wait allows with the frames that were actually sent: each data
// frame, then its ACK back, one after the other.
void MeasureThroughput(TBenchTable& table, const char* test, TTerminalKind terminal) {
    TTunnelRig rig(TLineSettings{.rate = kLineRate});
    rig.UseTerminal(terminal);
    ASSERT_EQ(rig.Load({"echo", "1"}).size(), 1u);  // the link is up and the path warm
    const std::string before = rig.LineStats();
    const auto reports = rig.Load({test, "256K"});
    const std::string after = rig.LineStats();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Text("result"), "completed") << reports[0].Line();
    const bool down = std::string(test) == "download";
    const std::string forward = down ? "to_terminal" : "to_agent";
    const std::string back = down ? "to_agent" : "to_terminal";
    const auto delta = [&](const std::string& direction, const std::string& key) {
        return Count(after, direction, key) - Count(before, direction, key);
    };
    const double frameBytes = delta(forward, "data_wire_bytes") + delta(back, "ack_wire_bytes");
    const double boundSeconds = frameBytes / kLineRate;
    const double seconds = reports[0].Number("ms") / 1000;
    const double rate = reports[0].Number("delivered") / seconds;
    const double bound = reports[0].Number("delivered") / boundSeconds;
    const std::string what = down ? "download" : "upload";
    const std::string key = Prefix(terminal) + what;
    table.Add(key + "_bytes_per_s", what + " of 256 KiB", rate, "B/s");
    table.Add(key + "_of_line", what + " / line", rate / kLineRate, "");
    table.Add(key + "_protocol_bound_bytes_per_s", what + " protocol bound (frames sent)", bound,
              "B/s",
              std::to_string(static_cast<long>(delta(forward, "data_frames"))) + " data frames");
    table.Add(key + "_of_bound", what + " / protocol bound", rate / bound, "");
    // A clean line answers every portion in time: neither end has cause to ask.
    table.Add(key + "_probes", what + " probes (empty data frames)",
              delta("to_terminal", "empty_data_frames") + delta("to_agent", "empty_data_frames"),
              "");
}

void MeasureEcho(TBenchTable& table, double rate, TTerminalKind terminal) {
    const std::string key = Prefix(terminal) + (rate > 0 ? "echo_paced" : "echo_unpaced");
    TTunnelRig rig(TLineSettings{.rate = rate});
    rig.UseTerminal(terminal);
    ASSERT_EQ(rig.Load({"echo", "1"}).size(), 1u);
    const std::string before = rig.LineStats();
    const auto reports = rig.Load({"echo", "200"});
    const std::string after = rig.LineStats();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Text("result"), "completed") << reports[0].Line();
    const std::string line = rate > 0 ? "paced" : "unpaced";
    for (const char* p : {"p50", "p95", "p99"}) {
        table.Add(key + "_" + p + "_ms",
                  "echo round trip " + std::string(p) + ", " + line + " line",
                  reports[0].Number(std::string(p) + "_ms"), "ms");
    }
    if (rate > 0) {
        // The request frame up, then down the agent's ACK of it and the answer frame behind
        // that ACK, each after the other; the terminal's ACK of the answer comes after the
        // round trip.
        const auto sent = [&](const char* direction, const char* field) {
            return Count(after, direction, field) - Count(before, direction, field);
        };
        const double frames = sent("to_agent", "data_wire_bytes") +
                              sent("to_terminal", "ack_wire_bytes") +
                              sent("to_terminal", "data_wire_bytes");
        table.Add(key + "_line_time_ms", "line time of one exchange", frames / 201 / rate * 1000,
                  "ms");
    }
}

void MeasureCallsAndIdle(TBenchTable& table) {
    TTunnelRig rig(TLineSettings{.rate = 0});
    const auto reports = rig.Load({"calls", "200"});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Text("result"), "completed") << reports[0].Line();
    for (const char* p : {"p50", "p95", "p99"}) {
        table.Add(std::string("call_setup_") + p + "_ms",
                  "call set-up " + std::string(p) + ", unpaced",
                  reports[0].Number(std::string(p) + "_ms"), "ms");
    }
    // Serving, with the link up and nothing to do.
    const double cpuBefore = rig.AgentCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    table.Add("idle_cpu_percent", "idle CPU of a serving agent (10 s)",
              (rig.AgentCpuSeconds() - cpuBefore) / wall * 100, "% core");
}

// What a download on the unpaced line cost the agent.
struct TFastDownload {
    double cpuSeconds = 0;
    double seconds = 0;  // how long it ran
    double relayedBytes = 0;
    long peakKb = 0;
    std::uintmax_t captureBytes = 0;  // of bench.pcapng, when the agent was asked to write it
    std::string note;                 // how it ended

    double CpuPerMiB() const { return relayedBytes > 0 ? cpuSeconds / (relayedBytes / kMiB) : 0; }
};

// A download of mebibytes on the unpaced line from an agent run with agentArguments. A download
// still running at the cap is measured as it stands, by the bytes the agent put on the line.
TFastDownload RunFastDownload(int mebibytes, const std::vector<std::string>& agentArguments = {}) {
    TTunnelRig rig(TLineSettings{.rate = 0}, agentArguments);
    TFastDownload run;
    EXPECT_EQ(rig.Load({"echo", "1"}).size(), 1u);
    const double cpuBefore = rig.AgentCpuSeconds();
    const std::string before = rig.LineStats();
    rig.StartLoad({"download", std::to_string(mebibytes) + "M"}, 60);
    const auto reports = rig.FinishLoad(CapSeconds() * 1000);
    run.cpuSeconds = rig.AgentCpuSeconds() - cpuBefore;
    run.seconds = reports.empty() ? CapSeconds() : reports[0].Number("ms") / 1000;
    const std::string after = rig.LineStats();
    run.peakKb = rig.AgentStatusKb("VmHWM");
    std::error_code noCapture;
    run.captureBytes = std::filesystem::file_size(rig.Directory() / "bench.pcapng", noCapture);
    if (noCapture) {
        run.captureBytes = 0;
    }
    run.relayedBytes = Count(after, "to_terminal", "data_payload_bytes") -
                       Count(before, "to_terminal", "data_payload_bytes");
    run.note = reports.empty()
                   ? "unfinished after " + std::to_string(CapSeconds()) + " s, " +
                         std::to_string(static_cast<long>(run.relayedBytes / 1024)) + " KiB relayed"
                   : reports[0].Text("result") + " in " +
                         std::to_string(static_cast<long>(reports[0].Number("ms"))) + " ms";
    return run;
}

// A download on the unpaced line: CPU of the agent per MiB relayed, and its
// peak memory.
void MeasureFastDownload(TBenchTable& table, int mebibytes, bool memory) {
    const TFastDownload run = RunFastDownload(mebibytes);
    const std::string size = std::to_string(mebibytes) + " MiB";
    if (memory) {
        table.Add("fast_download_peak_rss_kb", "agent peak RSS, " + size + " download",
                  static_cast<double>(run.peakKb), "kB", run.note);
    } else {
        table.Add("cpu_s_per_mib_" + std::to_string(mebibytes),
                  "agent CPU per MiB relayed, " + size + " download", run.CpuPerMiB(), "s/MiB",
                  run.note);
    }
}

// CPU seconds this process has used so far.
double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The CPU seconds one write of the metrics file takes: the text of a serving agent's figures,
// and the file replaced, timed in this process.
double MetricsWriteCpuSeconds() {
    constexpr int kWrites = 2000;
    const TempDir directory;
    TAgentStatus status;
    status.state = TServiceStatus::EState::Serving;
    status.port = "ttyS99";
    status.linkUp = true;
    status.connections.resize(2);
    const TAgentMetrics metrics(directory / "agent.prom", "lane1", 1);
    const double before = ProcessCpuSeconds();
    for (int write = 0; write < kWrites; ++write) {
        ++status.counters.framesSent;
        EXPECT_FALSE(metrics.Write(status, 1));
    }
    return (ProcessCpuSeconds() - before) / kWrites;
}

// The median of values.
double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The CPU seconds the capture's own work takes per MiB relayed, timed in this process: the line
// of a download cut and recorded (frames of 260 random bytes, stuffed, read 4 KiB at a time, and
// the two ACK frames our half sends back for each) and the MiB told as TCP packets read 4 KiB at
// a time, all written into a capture file.
double CaptureWorkCpuSecondsPerMiB() {
    constexpr int kMebibytes = 16;
    static constexpr std::size_t kRead = 4096;
    constexpr std::size_t kFrameData = 260;
    std::mt19937 random(7);
    const auto randomBytes = [&random](std::size_t count) {
        std::vector<std::uint8_t> bytes(count);
        for (auto& byte : bytes) {
            byte = static_cast<std::uint8_t>(random());
        }
        return bytes;
    };
    // One MiB of line each way, as the agent writes and reads it.
    std::vector<std::uint8_t> sent;
    std::vector<std::uint8_t> received;
    const auto putFrame = [](std::vector<std::uint8_t>& line,
                             const std::vector<std::uint8_t>& frame) {
        const T_BinaryData stuffed = TSlipCodec::Escape(
            T_BinaryData(frame.data(), static_cast<unsigned long>(frame.size())));
        line.push_back(TSlipCodec::END);
        line.insert(line.end(), stuffed.GetData(), stuffed.GetData() + stuffed.Length());
        line.push_back(TSlipCodec::END);
    };
    for (double data = 0; data < kMiB; data += kFrameData - 10) {
        putFrame(sent, randomBytes(kFrameData));
        const std::vector<std::uint8_t> ack = randomBytes(5);
        putFrame(received, ack);
        putFrame(received, ack);
    }
    const std::vector<std::uint8_t> tcp = randomBytes(static_cast<std::size_t>(kMiB));

    const TempDir directory;
    std::string error;
    const auto capture =
        TCaptureRecorder::Open({directory / "work.pcapng", {}}, "ttyS99", nullptr, error);
    EXPECT_TRUE(capture) << error;
    if (!capture) {
        return 0;
    }
    const auto recording = [&capture](tunnelcapture::TLineDirection direction) {
        return [&capture, direction](TLineCutter::TKind kind, const T_BinaryData& bytes) {
            capture->RecordLine(direction,
                                kind == TLineCutter::TKind::Frame
                                    ? tunnelcapture::TLineKind::Frame
                                    : tunnelcapture::TLineKind::Garbage,
                                bytes.GetData(), bytes.Length());
        };
    };
    TLineCutter toTerminal(recording(tunnelcapture::TLineDirection::ToTerminal));
    TLineCutter fromTerminal(recording(tunnelcapture::TLineDirection::FromTerminal));
    TTcpConversation conversation(
        {0x7F000001, 40000}, {0x7F000001, 8080}, 1,
        [&capture](TTcpConversation::TSide from, const std::vector<std::uint8_t>& packet) {
            capture->RecordTcp(from == TTcpConversation::TSide::Client, packet);
        });
    conversation.Open();
    const auto inReads = [](const std::vector<std::uint8_t>& bytes, const auto& take) {
        for (std::size_t at = 0; at < bytes.size(); at += kRead) {
            take(bytes.data() + at, std::min(kRead, bytes.size() - at));
        }
    };
    const double before = ProcessCpuSeconds();
    for (int mebibyte = 0; mebibyte < kMebibytes; ++mebibyte) {
        inReads(tcp, [&](const std::uint8_t* data, std::size_t length) {
            conversation.Data(TTcpConversation::TSide::Server, data, length);
        });
        inReads(sent, [&](const std::uint8_t* data, std::size_t length) {
            toTerminal.Feed(data, static_cast<unsigned long>(length));
        });
        inReads(received, [&](const std::uint8_t* data, std::size_t length) {
            fromTerminal.Feed(data, static_cast<unsigned long>(length));
        });
    }
    capture->Flush();
    return (ProcessCpuSeconds() - before) / kMebibytes;
}

// The agent's CPU per MiB relayed on the unpaced line, and the same with --capture, which
// records every frame and every TCP segment of the download: downloads of each kind taken in
// turn, the median of each counting, for on a shared machine single runs spread by 15 % and
// more. Bounded: the capture's own work per MiB, timed in this process, against the agent's CPU
// per MiB without it.
void MeasureCaptureCost(TBenchTable& table) {
    constexpr int kMebibytes = 8;
    constexpr int kRounds = 5;
    std::vector<double> perMiB[2];
    std::uintmax_t captureBytes = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (const bool capturing : {false, true}) {
            const TFastDownload run = RunFastDownload(
                kMebibytes, capturing ? std::vector<std::string>{"--capture", "bench.pcapng"}
                                      : std::vector<std::string>{});
            EXPECT_TRUE(run.note.starts_with("completed")) << run.note;
            perMiB[capturing ? 1 : 0].push_back(run.CpuPerMiB());
            if (capturing) {
                captureBytes = run.captureBytes;
            }
        }
    }
    const double without = Median(perMiB[0]);
    const double with = Median(perMiB[1]);
    const std::string size = std::to_string(kMebibytes) + " MiB download";
    const std::string median = "median of " + std::to_string(kRounds);
    table.Add("no_capture_cpu_s_per_mib", "agent CPU per MiB, " + size, without, "s/MiB", median);
    table.Add("capture_cpu_s_per_mib", "agent CPU per MiB, " + size + ", --capture", with, "s/MiB",
              median + "; " + std::to_string(captureBytes / 1024) + " KiB of capture");
    table.Add("capture_cpu_cost_percent", "CPU cost of --capture per MiB, measured",
              without > 0 ? (with / without - 1) * 100 : 0, "%", "bound: 10 %");
    const double work = CaptureWorkCpuSecondsPerMiB();
    table.Add("capture_work_cpu_s_per_mib", "CPU of the capture's own work per MiB", work, "s/MiB",
              "cut, recorded and written, in this process");
    table.Add("capture_cpu_cost_work_percent", "CPU cost of --capture, its own work",
              without > 0 ? work / without * 100 : 0, "%", "bound: 10 %");
}

// What writing the metrics costs. Measured: 8 MiB downloads without and with --metrics, taken
// in turns, the cheapest of each kind counting; on a busy machine the difference is mostly
// noise. Bounded: a write's CPU at the most frequent writing (4 a second) over the download's
// time per MiB, against the agent's CPU per MiB.
void MeasureMetricsCost(TBenchTable& table) {
    constexpr int kMebibytes = 8;
    constexpr int kRounds = 3;
    TFastDownload without;
    double with = 0;
    for (int round = 0; round < kRounds; ++round) {
        const TFastDownload plain = RunFastDownload(kMebibytes);
        const double metrics = RunFastDownload(kMebibytes, {"--metrics", "agent.prom"}).CpuPerMiB();
        if (round == 0 || plain.CpuPerMiB() < without.CpuPerMiB()) {
            without = plain;
        }
        with = round == 0 ? metrics : std::min(with, metrics);
    }
    table.Add("cpu_s_per_mib_8_metrics", "agent CPU per MiB, 8 MiB download, --metrics", with,
              "s/MiB",
              "best of " + std::to_string(kRounds) +
                  "; without: " + std::to_string(without.CpuPerMiB()) + " s/MiB");
    table.Add("metrics_cpu_cost_measured_percent", "CPU cost of --metrics, measured",
              (with / without.CpuPerMiB() - 1) * 100, "%");
    const double write = MetricsWriteCpuSeconds();
    table.Add("metrics_write_cpu_us", "CPU of one metrics file write", write * 1e6, "us");
    const double secondsPerMiB = without.seconds / (without.relayedBytes / kMiB);
    table.Add("metrics_cpu_cost_bound_percent", "CPU cost of --metrics, at 4 writes/s",
              4 * secondsPerMiB * write / without.CpuPerMiB() * 100, "%");
}

TEST(TunnelBench, Table) {
    TBenchTable table;
    table.Section("\nTunnel benchmark: the agent behind a line paced at 11520 bytes/s each way");
    MeasureRawLine(table);
    for (const TTerminalKind terminal : {TTerminalKind::Ours, TTerminalKind::Model}) {
        table.Section(std::string("terminal: ") + Name(terminal));
        MeasureThroughput(table, "download", terminal);
        MeasureThroughput(table, "upload", terminal);
        MeasureEcho(table, kLineRate, terminal);
        MeasureEcho(table, 0, terminal);
    }
    table.Section("terminal: ours");
    MeasureCallsAndIdle(table);
    MeasureFastDownload(table, 64, true);
    for (int mebibytes : {1, 8, 32}) {
        MeasureFastDownload(table, mebibytes, false);
    }
    MeasureCaptureCost(table);
    MeasureMetricsCost(table);
    const char* path = std::getenv("BENCH_JSON");
    table.Write(path ? path : "bench.json");
}

}  // namespace
