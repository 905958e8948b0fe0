#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CommLogReader.h"

// One line of the timeline: something seen in a log, a problem found there, or
// one of the agent's own measures (a doubled notice, a doubled or refreshed
// ACK, a poll, a refusal, a probe), which is no problem.
struct TEvent {
    enum class TLayer { Log, Frame, Packet, Problem, Measure };

    TStamp stamp;
    std::string source;    // the log file's name
    char direction = ' ';  // '>' sent, '<' received by the log's owner, ' ' neither
    TLayer layer = TLayer::Log;
    std::string text;
};

// The life of one connection: a tunnelled socket id of a serial log, or one
// connection of a socket log.
struct TConnectionSummary {
    std::string source;
    std::string name;    // "#1" for a socket id, "connection 2" in a socket log
    std::string target;  // "CALL 10.0.0.5:443", "LISTEN port 5000", "peer 10.0.0.7"
    TStamp start;
    TStamp last;
    std::uint64_t bytesOut = 0;  // towards the network
    std::uint64_t bytesIn = 0;   // from the network
    std::string ending;          // how it ended; "never closed" while still open
};

// What decoding one log file yields.
struct TFileDecode {
    std::vector<TEvent> events;
    std::vector<TConnectionSummary> connections;
    std::string stop;  // where reading stopped early, if it did
};

// Everything decoded, with the events of all files in one timeline.
struct TDecodeReport {
    std::size_t entries = 0;  // log entries read, in all files
    std::vector<TEvent> timeline;
    std::vector<TConnectionSummary> connections;
    std::vector<std::string> stops;
};

// Collects the events of one file as they are found.
class TEventSink {
  public:
    explicit TEventSink(std::string source) : m_source(std::move(source)) {}

    void Add(const TStamp& stamp, char direction, TEvent::TLayer layer, std::string text) {
        m_events.push_back(TEvent{stamp, m_source, direction, layer, std::move(text)});
    }
    void Problem(const TStamp& stamp, std::string text) {
        Add(stamp, ' ', TEvent::TLayer::Problem, std::move(text));
    }
    // kind names the measure ("poll"); the report counts them by it.
    void Measure(const TStamp& stamp, const std::string& kind, const std::string& text) {
        Add(stamp, ' ', TEvent::TLayer::Measure, kind + ": " + text);
    }

    const std::string& Source() const { return m_source; }
    std::vector<TEvent> Take() { return std::move(m_events); }

  private:
    std::string m_source;
    std::vector<TEvent> m_events;
};
