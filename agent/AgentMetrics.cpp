#include "agent/AgentMetrics.h"

#include <array>
#include <filesystem>
#include <utility>

#include "ProjectVersion.h"

namespace {

using EState = TServiceStatus::EState;

// The node exporter reads the file as a user of its own, whatever the agent's umask.
constexpr mode_t kReadableByAll = 0644;

// A counter of the tunnel: its name after "pinpad_agent_", its figure and its help text.
struct TCounter {
    const char* name;
    std::uint64_t TTunnelCounters::*figure;
    const char* help;
};

constexpr std::array<TCounter, 14> kCounters{{
    {"frames_sent_total", &TTunnelCounters::framesSent,
     "Frames written to the serial line: data, ACK and NAK."},
    {"frames_received_total", &TTunnelCounters::framesReceived,
     "Frames read from the serial line, whole or damaged."},
    {"naks_sent_total", &TTunnelCounters::naksSent,
     "Damaged data frames of the terminal refused with a NAK."},
    {"naks_received_total", &TTunnelCounters::naksReceived,
     "NAKs the terminal sent for the agent's data frames."},
    {"repeats_sent_total", &TTunnelCounters::repeatsSent,
     "Data frames sent again after a NAK or a time-out."},
    {"repeats_received_total", &TTunnelCounters::repeatsReceived,
     "Data frames the terminal sent again after they had been taken."},
    {"stream_breaks_total", &TTunnelCounters::streamBreaks,
     "Breaks in the terminal's stream: portions it sent were lost."},
    {"link_resets_total", &TTunnelCounters::linkResets,
     "Times the agent gave up unanswered data and reset the link."},
    {"terminal_resets_total", &TTunnelCounters::peerResets, "Resets the terminal sent."},
    {"probes_sent_total", &TTunnelCounters::probesSent,
     "Empty data frames sent to ask whether the terminal read a portion."},
    {"calls_refused_total", &TTunnelCounters::callsRefused,
     "Calls and listens refused, by the allow-list or because no socket could be made."},
    {"closes_after_loss_total", &TTunnelCounters::closesAfterLoss,
     "TCP connections closed because a packet of theirs was lost."},
    {"tcp_sent_bytes_total", &TTunnelCounters::bytesToPeers,
     "Bytes handed to the TCP peers of the terminal's connections."},
    {"tcp_received_bytes_total", &TTunnelCounters::bytesFromPeers,
     "Bytes read from the TCP peers of the terminal's connections."},
}};

// The value of the label "state": the names the status file uses.
const char* StateLabel(EState state) {
    switch (state) {
        case EState::NoPort:
            return "no-port";
        case EState::Disabled:
            return "disabled";
        case EState::PortUnavailable:
            return "port-unavailable";
        case EState::Serving:
            return "serving";
        case EState::LineLost:
            return "line-lost";
    }
    return "";
}

constexpr std::array<EState, 5> kStates{EState::NoPort, EState::Disabled, EState::PortUnavailable,
                                        EState::Serving, EState::LineLost};

// A label value with backslash, quote and line feed escaped.
std::string Escaped(const std::string& value) {
    std::string escaped;
    for (const char c : value) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// Appends name="value" to a list of labels.
void AddLabel(std::string& labels, const char* name, const std::string& value) {
    if (!labels.empty()) {
        labels += ',';
    }
    labels += name;
    labels += "=\"" + Escaped(value) + '"';
}

// The text of the families of one metrics file, each series with the same common labels.
class TExposition {
  public:
    explicit TExposition(std::string labels) : m_labels(std::move(labels)) {}

    // Starts the family name ("pinpad_agent_" is added) with its type and help.
    void Family(const char* name, const char* type, const char* help) {
        m_name = std::string("pinpad_agent_") + name;
        m_text += "# HELP " + m_name + ' ' + help + "\n# TYPE " + m_name + ' ' + type + '\n';
    }
    // A series of the family, with labels of its own before the common ones.
    template <typename TValue>
    void Sample(TValue value, std::string labels = {}) {
        if (!m_labels.empty()) {
            labels += labels.empty() ? m_labels : ',' + m_labels;
        }
        m_text += m_name;
        if (!labels.empty()) {
            m_text += '{' + labels + '}';
        }
        m_text += ' ' + std::to_string(value) + '\n';
    }
    // A family of one series.
    template <typename TValue>
    void Single(const char* name, const char* type, const char* help, TValue value) {
        Family(name, type, help);
        Sample(value);
    }

    std::string Take() { return std::move(m_text); }

  private:
    std::string m_labels;
    std::string m_name;
    std::string m_text;
};

}  // namespace

TAgentMetrics::TAgentMetrics(const std::string& path, std::string instance,
                             std::int64_t startSeconds)
    : m_file(std::filesystem::path(path).parent_path().string(),
             std::filesystem::path(path).filename().string(), kReadableByAll),
      m_instance(std::move(instance)),
      m_startSeconds(startSeconds) {}

std::string TAgentMetrics::Text(const TAgentStatus& status,
                                std::optional<std::int64_t> lastResetSeconds) const {
    std::string labels;
    if (!status.port.empty()) {
        AddLabel(labels, "port", status.port);
    }
    if (!m_instance.empty()) {
        AddLabel(labels, "agent_instance", m_instance);
    }
    TExposition text(labels);
    std::string version;
    AddLabel(version, "version", kProjectVersion);
    text.Family("build_info", "gauge", "The agent's version, in the label version; always 1.");
    text.Sample(1, version);
    text.Single("start_time_seconds", "gauge", "When the agent's process started, in Unix seconds.",
                m_startSeconds);
    text.Family("state", "gauge",
                "1 for the state the agent is in, 0 for the others: serving, disabled (the "
                "service is switched off), port-unavailable (the serial port cannot be opened, "
                "or another program holds it), line-lost (the serial device went away), no-port.");
    for (const EState state : kStates) {
        std::string label;
        AddLabel(label, "state", StateLabel(state));
        text.Sample(state == status.state ? 1 : 0, label);
    }
    text.Single("link_up", "gauge",
                "1 while serving when the terminal has answered since the link was last reset.",
                status.linkUp ? 1 : 0);
    if (lastResetSeconds) {
        text.Single("last_reset_timestamp_seconds", "gauge",
                    "When the link was last reset, by the agent or the terminal, in Unix seconds.",
                    *lastResetSeconds);
    }
    for (const TCounter& counter : kCounters) {
        text.Single(counter.name, "counter", counter.help, status.counters.*counter.figure);
    }
    text.Single("connections", "gauge", "TCP connections open for the terminal.",
                status.connections.size());
    return text.Take();
}

std::optional<TStatusFile::TProblem> TAgentMetrics::Write(
    const TAgentStatus& status, std::optional<std::int64_t> lastResetSeconds) const {
    return m_file.Write(Text(status, lastResetSeconds));
}
