#pragma once

#include <optional>
#include <string>
#include <vector>

#include "agent/ServiceStatus.h"
#include "tunnel/TunnelCounters.h"

// How the agent is doing, as its status file holds it: the service state, the
// link, what the tunnel has counted since the agent started, and the TCP
// connections the tunnel holds for the terminal.
struct TAgentStatus {
    TServiceStatus::EState state = TServiceStatus::EState::NoPort;
    std::string port;  // the serial device, such as "ttyS0"
    // While serving: the terminal has answered since the link was last reset.
    bool linkUp = false;
    // Local time of the last reset, the agent's own or the terminal's, as
    // "YYYY-MM-DD HH:MM:SS"; empty before the first.
    std::string lastReset;
    // Local time the terminal was last heard (any frame), in the same form;
    // empty before the first.
    std::string lastHeard;
    // Local time the status was taken, in the same form.
    std::string written;
    // The agent's process.
    long pid = 0;
    TTunnelCounters counters;
    std::vector<TConnectionFigures> connections;

    bool operator==(const TAgentStatus&) const = default;
};

// The status as the text of the status file: a JSON object, one field a line.
// Bytes that are not UTF-8 in its strings come out as U+FFFD.
[[nodiscard]] std::string StatusToJson(const TAgentStatus& status);

// Reads the text of a status file. Nothing, with what is wrong in error, when
// it is not JSON or lacks a field of the format StatusToJson writes, or a
// field has the wrong type or range. Fields it does not know are skipped.
[[nodiscard]] std::optional<TAgentStatus> StatusFromJson(const std::string& text,
                                                         std::string& error);

// The status for a person: one aligned line for each of the state, the last
// reset, when it was written, each pair of counters, and each connection.
// writerEnded adds that the process which wrote it has ended.
[[nodiscard]] std::string DescribeStatus(const TAgentStatus& status, bool writerEnded);
