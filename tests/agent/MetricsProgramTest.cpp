// The agent's metrics as a fleet's monitoring sees them: the real agent
// serves pinpad-sim through line-sim, which damages bits on the line, and
// writes its metrics into a directory that Debian's node exporter publishes.
// The test scrapes the exporter over HTTP on 127.0.0.1 and finds the figures
// the transfer must have produced; promtool accepts the file. Every program
// is started and ended by the test, and every file lies in its directory.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "AgentProgram.h"
#include "ProjectVersion.h"
#include "support/ChildProcess.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

using std::chrono::seconds;

constexpr std::size_t kUpload = 24 * 1024;
constexpr std::size_t kDownload = 40 * 1024;

// A series' name with its labels in the order of their names, as the node
// exporter writes them: labels is a list such as port="ttyS99",state="x" in
// any order, holding no commas of its own.
std::string SeriesName(const std::string& name, const std::string& labels) {
    std::vector<std::string> sorted;
    std::istringstream list(labels);
    for (std::string label; std::getline(list, label, ',');) {
        sorted.push_back(label);
    }
    std::sort(sorted.begin(), sorted.end());
    std::string joined;
    for (const std::string& label : sorted) {
        joined += (joined.empty() ? "" : ",") + label;
    }
    return joined.empty() ? name : name + "{" + joined + "}";
}

// The series of a scrape or a metrics file by name and labels.
std::map<std::string, double> Series(const std::string& text) {
    std::map<std::string, double> series;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t space = line.rfind(' ');
        if (line.starts_with("#") || space == std::string::npos) {
            continue;
        }
        const std::size_t brace = line.find('{');
        const std::string name =
            brace < space ? SeriesName(line.substr(0, brace),
                                       line.substr(brace + 1, line.rfind('}', space) - brace - 1))
                          : line.substr(0, space);
        series[name] = std::stod(line.substr(space + 1));
    }
    return series;
}

// A TCP peer on 127.0.0.1 for one connection, on a thread of its own: it
// takes kUpload bytes, answers with kDownload bytes and closes.
class TExchangePeer {
  public:
    TExchangePeer()
        : m_listener(ListenOnLoopback()), m_thread([this] {
              const TDescriptor connection = AcceptPeer(m_listener.socket);
              m_received = ReceiveExactly(connection, kUpload).size();
              SendAll(connection, std::string(kDownload, 'd'));
          }) {}
    ~TExchangePeer() { m_thread.join(); }

    std::uint16_t Port() const { return m_listener.port; }
    std::size_t Received() const { return m_received; }

  private:
    LoopbackListener m_listener;
    std::size_t m_received = 0;
    std::thread m_thread;
};

class MetricsProgramTest : public testing::Test {
  protected:
    // The name of a series of the agent, with its labels and more.
    static std::string Agent(const std::string& name, const std::string& more = {}) {
        return SeriesName("pinpad_agent_" + name, more + R"(port="ttyS99",agent_instance="lane1")");
    }

    // Where a program's output and errors go: a file of the directory.
    ChildProcess::TOptions Into(const std::string& name, const std::string& input = "/dev/null") {
        return {.directory = m_directory.Path(),
                .input = input,
                .output = m_directory / name,
                .error = m_directory / name};
    }

    // line-sim between the agent's port 9 and "term" (faults, the bit error
    // rate), and the agent on it with arguments.
    void Start(const std::string& faults, const std::vector<std::string>& arguments) {
        m_line = std::make_unique<ChildProcess>(
            std::vector<std::string>{ToolPath("line-sim"), "--agent-link", m_directory / "ttyS99",
                                     "--terminal-link", m_directory / "term", "--rate", "0",
                                     "--ber", faults, "--seed", "5"},
            Into("line.out"));
        ASSERT_TRUE(WaitFor([&] { return m_directory.Exists("term"); }))
            << m_directory.ReadFile("line.out");
        m_directory.WriteFile("pinpad.ini", "ComPort=9\r\n");
        m_directory.WriteFile("agent.ini", "Enabled=1\r\n");
        m_agent.Start(arguments);
    }

    // pinpad-sim on "term" sends kUpload bytes to a TCP peer through the
    // agent and takes its kDownload bytes back.
    void Exchange() {
        TExchangePeer peer;
        m_directory.WriteFile("upload", std::string(kUpload, 'u'));
        ChildProcess sim({ToolPath("pinpad-sim"), "--line", m_directory / "term", "--wait", "20",
                          "connect", "127.0.0.1:" + std::to_string(peer.Port())},
                         {.directory = m_directory.Path(),
                          .input = m_directory / "upload",
                          .output = m_directory / "download",
                          .error = m_directory / "sim.err"});
        ASSERT_EQ(sim.WaitForExit(60000), 0) << m_directory.ReadFile("sim.err");
        EXPECT_EQ(m_directory.ReadFile("download").size(), kDownload);
        EXPECT_EQ(peer.Received(), kUpload);
    }

    // The agent's metrics file now, read whole (it is replaced, never
    // rewritten in place).
    std::map<std::string, double> Written() const {
        return Series(m_directory.ReadFile("textfile/pinpad-agent.prom"));
    }

    // The node exporter's page, fetched over HTTP; empty while it does not answer.
    std::string Scrape() {
        const std::string page = m_directory / "scrape";
        std::filesystem::remove(page);
        ChildProcess curl({"curl", "-sf", "--max-time", "5", "-o", page,
                           "http://127.0.0.1:" + std::to_string(m_exporterPort) + "/metrics"},
                          Into("curl.out"));
        return curl.WaitForExit(10000) == 0 ? m_directory.ReadFile("scrape") : "";
    }

    TempDir m_directory;
    TAgentProgram m_agent{m_directory};
    std::unique_ptr<ChildProcess> m_line;
    std::uint16_t m_exporterPort = 0;
};

TEST_F(MetricsProgramTest, TheNodeExporterPublishesWhatTheTransferProduced) {
    std::filesystem::create_directory(m_directory / "textfile");
    // Bit errors both ways: among the terminal's frames some arrive damaged,
    // and the agent refuses them with NAKs.
    ASSERT_NO_FATAL_FAILURE(Start("3e-4", {"--metrics", m_directory / "textfile/pinpad-agent.prom",
                                           "--metrics-instance", "lane1"}));
    ASSERT_NO_FATAL_FAILURE(Exchange());
    // The close reaches the file within a quarter of a second of the agent's seeing it.
    ASSERT_TRUE(WaitFor([&] {
        auto written = Written();
        return written[Agent("tcp_received_bytes_total")] == kDownload &&
               written[Agent("connections")] == 0;
    })) << m_directory.ReadFile("textfile/pinpad-agent.prom");

    m_exporterPort = FreeLoopbackPort();
    ChildProcess exporter({"prometheus-node-exporter",
                           "--web.listen-address=127.0.0.1:" + std::to_string(m_exporterPort),
                           "--collector.disable-defaults", "--collector.textfile",
                           "--collector.textfile.directory=" + (m_directory / "textfile")},
                          Into("exporter.out"));
    std::string scraped;
    ASSERT_TRUE(WaitFor([&] { return !(scraped = Scrape()).empty(); }, seconds(20)))
        << m_directory.ReadFile("exporter.out");
    std::map<std::string, double> series = Series(scraped);
    EXPECT_EQ(series["node_textfile_scrape_error"], 0) << scraped;
    EXPECT_EQ(series[Agent("tcp_sent_bytes_total")], kUpload) << scraped;
    EXPECT_EQ(series[Agent("tcp_received_bytes_total")], kDownload);
    EXPECT_EQ(series[Agent("connections")], 0);
    EXPECT_EQ(series[Agent("state", R"(state="serving",)")], 1);
    EXPECT_EQ(series[Agent("link_up")], 1);
    EXPECT_EQ(series[Agent("build_info", "version=\"" + std::string(kProjectVersion) + "\",")], 1);
    // Frames of the bytes in portions of at most 255 bytes, each acknowledged.
    EXPECT_GT(series[Agent("frames_sent_total")], kDownload / 255);
    EXPECT_GT(series[Agent("frames_received_total")], kUpload / 255);
    EXPECT_GE(series[Agent("naks_sent_total")], 1) << "line-sim's bit errors caused no NAK";
    EXPECT_GT(series[Agent("last_reset_timestamp_seconds")], 0);
    EXPECT_EQ(series.count(Agent("calls_refused_total")), 1u);
    EXPECT_EQ(series.count(Agent("probes_sent_total")), 1u);

    // promtool, the tool of the rules that use these series, accepts the file.
    ChildProcess promtool({"promtool", "check", "metrics"},
                          Into("promtool.out", m_directory / "textfile/pinpad-agent.prom"));
    EXPECT_EQ(promtool.WaitForExit(20000), 0) << m_directory.ReadFile("promtool.out");
    EXPECT_EQ(m_directory.ReadFile("promtool.out"), "");

    // Switched off, the agent says so at its next check; nothing it counted
    // goes back.
    m_directory.WriteFile("agent.ini", "Enabled=0\r\n");
    ASSERT_TRUE(WaitFor([&] { return Written()[Agent("state", R"(state="disabled",)")] == 1; },
                        seconds(12)));
    const std::map<std::string, double> off = Written();
    for (const auto& [name, value] : series) {
        if (name.starts_with("pinpad_agent_") && name.find("_total{") != std::string::npos) {
            EXPECT_GE(off.at(name), value) << name;
        }
    }
    EXPECT_EQ(off.at(Agent("link_up")), 0);
    EXPECT_EQ(m_agent.Output(), "");
}

// A symbolic link in the metrics file's place is left alone, its target
// untouched, and told once; the agent serves all the same.
TEST_F(MetricsProgramTest, ALinkInTheFilesPlaceIsToldOnceAndLeftAlone) {
    m_directory.WriteFile("elsewhere", "kept");
    std::filesystem::create_symlink(m_directory / "elsewhere", m_directory / "agent.prom");
    ASSERT_NO_FATAL_FAILURE(Start("0", {"--metrics", m_directory / "agent.prom"}));
    // Two connections, each opened and closed: writes of their own.
    ASSERT_NO_FATAL_FAILURE(Exchange());
    ASSERT_NO_FATAL_FAILURE(Exchange());
    EXPECT_EQ(m_agent.Output(), "agent: " + (m_directory / "agent.prom") +
                                    " is a symbolic link; the metrics are not written into it\n");
    EXPECT_TRUE(std::filesystem::is_symlink(m_directory / "agent.prom"));
    EXPECT_EQ(m_directory.ReadFile("elsewhere"), "kept");
}

}  // namespace
