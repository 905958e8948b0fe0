#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "agent/AgentStatus.h"
#include "agent/StatusFile.h"

// The agent's figures in the Prometheus text format, in a file that the node
// exporter's textfile collector publishes ("*.prom" in its directory). Every
// series is named "pinpad_agent_..." and labelled with the serial port and,
// for one of several agents on a machine, with its instance name. The file
// is replaced whole, as the status file is, and never through a link; anyone
// may read it.
//
// The counters come from the status, whose tunnel figures run on across the
// service cycles, so none runs backwards while the process lives; a new
// process starts them at 0 again, as Prometheus expects of counters.
class TAgentMetrics {
  public:
    // The file at path; instance, when not empty, becomes the label
    // "agent_instance" of every series. startSeconds is when the process
    // started, as Unix seconds.
    TAgentMetrics(const std::string& path, std::string instance, std::int64_t startSeconds);

    const std::string& Path() const { return m_file.Path(); }

    // The text for status. lastResetSeconds is the time of the last reset
    // of the link as Unix seconds; nothing before the first, which leaves
    // its series out.
    [[nodiscard]] std::string Text(const TAgentStatus& status,
                                   std::optional<std::int64_t> lastResetSeconds) const;
    // Replaces the file with Text; what went wrong when it could not.
    [[nodiscard]] std::optional<TStatusFile::TProblem> Write(
        const TAgentStatus& status, std::optional<std::int64_t> lastResetSeconds) const;

  private:
    TStatusFile m_file;
    std::string m_instance;
    std::int64_t m_startSeconds;
};
