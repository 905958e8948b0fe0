#include "agent/AgentStatus.h"

#include <arpa/inet.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

#include "base/TextHelpers.h"

namespace {

using TJson = nlohmann::ordered_json;
using EState = TServiceStatus::EState;

// The version of the file's layout; a reader refuses any other.
constexpr int kFormat = 1;

// The counters by their names in the file, in the file's order.
constexpr std::array<std::pair<const char*, std::uint64_t TTunnelCounters::*>, 11> kCounters{{
    {"framesSent", &TTunnelCounters::framesSent},
    {"framesReceived", &TTunnelCounters::framesReceived},
    {"naksSent", &TTunnelCounters::naksSent},
    {"naksReceived", &TTunnelCounters::naksReceived},
    {"repeatsSent", &TTunnelCounters::repeatsSent},
    {"repeatsReceived", &TTunnelCounters::repeatsReceived},
    {"linkResets", &TTunnelCounters::linkResets},
    {"streamBreaks", &TTunnelCounters::streamBreaks},
    {"closesAfterLoss", &TTunnelCounters::closesAfterLoss},
    {"callsRefused", &TTunnelCounters::callsRefused},
    {"terminalResets", &TTunnelCounters::peerResets},
}};

constexpr std::array<std::pair<const char*, EState>, 6> kStates{{
    {"no-port", EState::NoPort},
    {"disabled", EState::Disabled},
    {"port-unavailable", EState::PortUnavailable},
    {"port-busy", EState::PortBusy},
    {"serving", EState::Serving},
    {"line-lost", EState::LineLost},
}};

const char* StateName(EState state) {
    for (const auto& [name, value] : kStates) {
        if (value == state) {
            return name;
        }
    }
    return "";
}

// What the terminal has been told of a connection, or that it closed it.
std::string ConnectionState(const TConnectionFigures& connection) {
    if (connection.closing) {
        return "closing";
    }
    switch (connection.state) {
        case CONNSTATE_CONNECTING:
            return "connecting";
        case CONNSTATE_LISTENING:
            return "listening";
        case CONNSTATE_CONNECTED:
            return "connected";
        default:
            return "closed";
    }
}

// The peer's address: a call's destination, a listen's accepted peer; empty
// when a listen has none yet.
std::string PeerText(const TConnectionFigures& connection) {
    if (connection.calling) {
        return IpToString(connection.address);
    }
    // A listen's peer holds its octets in network order.
    return connection.peerAddress != 0 ? IpToString(ntohl(connection.peerAddress)) : "";
}

TJson TextOrNull(const std::string& text) {
    return text.empty() ? TJson(nullptr) : TJson(text);
}

// Reads the fields of one JSON object, each of the type asked for. The first
// problem is kept in error, named by the field's path; later reads of a
// reader that failed do nothing.
class TFieldReader {
  public:
    TFieldReader(const TJson& object, std::string path, std::string& error)
        : m_object(object), m_path(std::move(path)), m_error(error) {
        if (!m_object.is_object()) {
            Fail(m_path.empty() ? "the text" : m_path, "is not an object");
        }
    }

    bool Ok() const { return m_error.empty(); }

    // The field itself; null when it is missing, which is a problem.
    const TJson* Field(const char* name) {
        if (!Ok()) {
            return nullptr;
        }
        const auto it = m_object.find(name);
        if (it == m_object.end()) {
            Fail(Path(name), "is missing");
            return nullptr;
        }
        return &*it;
    }

    template <typename TNumber>
    void Number(const char* name, TNumber& value) {
        const TJson* field = Field(name);
        if (field == nullptr) {
            return;
        }
        constexpr auto kLargest = static_cast<std::uint64_t>(std::numeric_limits<TNumber>::max());
        if (!field->is_number_unsigned() || field->get<std::uint64_t>() > kLargest) {
            Fail(Path(name), "is not a whole number from 0 to " +
                                 std::to_string(std::numeric_limits<TNumber>::max()));
            return;
        }
        value = static_cast<TNumber>(field->get<std::uint64_t>());
    }

    // A string, or null for an empty one when nullable.
    void Text(const char* name, std::string& value, bool nullable = false) {
        const TJson* field = Field(name);
        if (field == nullptr) {
            return;
        }
        if (nullable && field->is_null()) {
            value.clear();
        } else if (field->is_string()) {
            value = field->get<std::string>();
        } else {
            Fail(Path(name), nullable ? "is neither text nor null" : "is not text");
        }
    }

    // One of the words of a table, given as text.
    template <typename TValue, std::size_t N>
    void Word(const char* name, const std::array<std::pair<const char*, TValue>, N>& words,
              TValue& value) {
        std::string text;
        Text(name, text);
        if (!Ok()) {
            return;
        }
        for (const auto& [word, meaning] : words) {
            if (text == word) {
                value = meaning;
                return;
            }
        }
        Fail(Path(name), "has the unknown value \"" + text + "\"");
    }

    std::string Path(const char* name) const { return m_path.empty() ? name : m_path + "." + name; }

    void Fail(const std::string& where, const std::string& what) {
        if (Ok()) {
            m_error = where + " " + what;
        }
    }

  private:
    const TJson& m_object;
    std::string m_path;
    std::string& m_error;
};

constexpr std::array<std::pair<const char*, bool>, 2> kKinds{{{"call", true}, {"listen", false}}};
constexpr std::array<std::pair<const char*, bool>, 2> kLinkStates{{{"up", true}, {"down", false}}};
constexpr std::array<std::pair<const char*, CONNSTATE>, 4> kConnectionStates{{
    {"connecting", CONNSTATE_CONNECTING},
    {"listening", CONNSTATE_LISTENING},
    {"connected", CONNSTATE_CONNECTED},
    {"closing", CONNSTATE_CONNECTED},
}};

void ReadConnection(const TJson& object, const std::string& path, TConnectionFigures& connection,
                    std::string& error) {
    TFieldReader reader(object, path, error);
    reader.Number("id", connection.socketId);
    reader.Word("kind", kKinds, connection.calling);
    std::string state;
    reader.Text("state", state);
    reader.Word("state", kConnectionStates, connection.state);
    connection.closing = state == "closing";
    std::string peer;
    reader.Text("peer", peer, true);
    reader.Number("port", connection.port);
    reader.Number("bytesToPeer", connection.bytesToPeer);
    reader.Number("bytesFromPeer", connection.bytesFromPeer);
    if (!reader.Ok() || peer.empty()) {
        return;
    }
    in_addr address{};
    if (inet_pton(AF_INET, peer.c_str(), &address) != 1) {
        reader.Fail(reader.Path("peer"), "is not an IPv4 address");
    } else if (connection.calling) {
        connection.address = ntohl(address.s_addr);
    } else {
        std::memcpy(&connection.peerAddress, &address, sizeof address);
    }
}

// "no. noun(s)", the plural with an s.
std::string Count(std::uint64_t value, const std::string& noun) {
    return std::to_string(value) + " " + noun + (value == 1 ? "" : "s");
}

// Text from the file as a terminal may show it: control characters become '?'.
std::string Printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return text;
}

std::string SentAndReceived(std::uint64_t sent, std::uint64_t received) {
    return std::to_string(sent) + " sent, " + std::to_string(received) + " received";
}

}  // namespace

std::string StatusToJson(const TAgentStatus& status) {
    TJson counters = TJson::object();
    for (const auto& [name, member] : kCounters) {
        counters[name] = status.counters.*member;
    }
    TJson connections = TJson::array();
    for (const TConnectionFigures& connection : status.connections) {
        connections.push_back({{"id", connection.socketId},
                               {"kind", connection.calling ? "call" : "listen"},
                               {"state", ConnectionState(connection)},
                               {"peer", TextOrNull(PeerText(connection))},
                               {"port", connection.port},
                               {"bytesToPeer", connection.bytesToPeer},
                               {"bytesFromPeer", connection.bytesFromPeer}});
    }
    const TJson file = {
        {"format", kFormat},
        {"written", status.written},
        {"pid", status.pid},
        {"state", StateName(status.state)},
        {"port", status.port},
        {"link", status.linkUp ? "up" : "down"},
        {"lastReset", TextOrNull(status.lastReset)},
        {"lastHeard", TextOrNull(status.lastHeard)},
        {"counters", std::move(counters)},
        {"connections", std::move(connections)},
    };
    return file.dump(2, ' ', false, TJson::error_handler_t::replace) + "\n";
}

std::optional<TAgentStatus> StatusFromJson(const std::string& text, std::string& error) {
    error.clear();
    TJson file;
    try {
        file = TJson::parse(text);
    } catch (const TJson::exception& failure) {  // a syntax error, or a number out of range
        // The library's own words, without its bracketed identifier in front.
        std::string why = failure.what();
        if (const auto end = why.find("] "); why.starts_with("[") && end != std::string::npos) {
            why.erase(0, end + 2);
        }
        error = "not JSON: " + why;
        return std::nullopt;
    }
    TAgentStatus status;
    TFieldReader reader(file, "", error);
    int format = 0;
    reader.Number("format", format);
    if (reader.Ok() && format != kFormat) {
        reader.Fail("format", std::to_string(format) + " is not " + std::to_string(kFormat));
    }
    reader.Text("written", status.written);
    int pid = 0;  // a pid_t
    reader.Number("pid", pid);
    status.pid = pid;
    reader.Word("state", kStates, status.state);
    reader.Text("port", status.port);
    reader.Word("link", kLinkStates, status.linkUp);
    reader.Text("lastReset", status.lastReset, true);
    // Written since the agent tells when the terminal was last heard.
    if (file.is_object() && file.contains("lastHeard")) {
        reader.Text("lastHeard", status.lastHeard, true);
    }
    if (const TJson* counters = reader.Field("counters")) {
        TFieldReader counterReader(*counters, "counters", error);
        for (const auto& [name, member] : kCounters) {
            counterReader.Number(name, status.counters.*member);
        }
    }
    if (const TJson* connections = reader.Field("connections"); connections && reader.Ok()) {
        if (!connections->is_array()) {
            reader.Fail("connections", "is not a list");
        }
        for (std::size_t index = 0; reader.Ok() && index < connections->size(); ++index) {
            ReadConnection((*connections)[index], "connections[" + std::to_string(index) + "]",
                           status.connections.emplace_back(), error);
        }
    }
    if (!reader.Ok()) {
        return std::nullopt;
    }
    return status;
}

std::string DescribeStatus(const TAgentStatus& status, bool writerEnded) {
    TServiceStatus service;
    service.state = status.state;
    service.port = Printable(status.port);
    if (status.state == EState::Serving) {
        service.linkUp = status.linkUp;
    }
    const TTunnelCounters& counters = status.counters;
    const std::pair<const char*, std::string> lines[] = {
        {"state", service.Line()},
        {"last reset", status.lastReset.empty() ? "none yet" : Printable(status.lastReset)},
        {"last heard", status.lastHeard.empty() ? "never" : Printable(status.lastHeard)},
        {"written", Printable(status.written) + " by process " + std::to_string(status.pid) +
                        (writerEnded ? ", which has ended" : "")},
        {"frames", SentAndReceived(counters.framesSent, counters.framesReceived)},
        {"NAKs", SentAndReceived(counters.naksSent, counters.naksReceived)},
        {"repeats", SentAndReceived(counters.repeatsSent, counters.repeatsReceived)},
        {"resyncs", Count(counters.streamBreaks, "break") + " in the terminal's stream, " +
                        Count(counters.linkResets, "link reset")},
        {"losses", Count(counters.closesAfterLoss, "connection") + " closed after a loss"},
        {"refused calls", std::to_string(counters.callsRefused)},
        {"terminal resets", std::to_string(counters.peerResets)},
        {"connections", std::to_string(status.connections.size())},
    };
    std::string text;
    char line[512];
    for (const auto& [label, value] : lines) {
        std::snprintf(line, sizeof line, "%-16s %s\n", label, value.c_str());
        text += line;
    }
    for (const TConnectionFigures& connection : status.connections) {
        const std::string peer = PeerText(connection);
        const std::string where =
            connection.calling ? "call to " + peer + ":" + std::to_string(connection.port)
                               : "listen on " + std::to_string(connection.port) +
                                     (peer.empty() ? "" : " from " + peer);
        std::snprintf(line, sizeof line, "  %-8s %-34s %-10s %llu bytes out, %llu in\n",
                      ("#" + std::to_string(connection.socketId)).c_str(), where.c_str(),
                      ConnectionState(connection).c_str(),
                      static_cast<unsigned long long>(connection.bytesToPeer),
                      static_cast<unsigned long long>(connection.bytesFromPeer));
        text += line;
    }
    return text;
}
