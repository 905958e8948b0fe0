#include "ReportWriter.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

// Seconds from one stamp to a later one (the logs carry no year).
long Duration(const TStamp& from, const TStamp& to) {
    const long seconds = to.Key() - from.Key();
    return seconds < 0 ? 0 : seconds;
}

bool IsProblem(const TEvent& event) {
    return event.layer == TEvent::TLayer::Problem;
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text;
}

std::string Indent(TEvent::TLayer layer) {
    switch (layer) {
        case TEvent::TLayer::Frame:
            return "frame ";
        case TEvent::TLayer::Packet:
            return "  ";
        case TEvent::TLayer::Problem:
            return "!! ";
        case TEvent::TLayer::Measure:
            return ".. ";
        case TEvent::TLayer::Log:
            break;
    }
    return "";
}

const char* LayerName(TEvent::TLayer layer) {
    switch (layer) {
        case TEvent::TLayer::Frame:
            return "frame";
        case TEvent::TLayer::Packet:
            return "packet";
        case TEvent::TLayer::Problem:
            return "problem";
        case TEvent::TLayer::Measure:
            return "measure";
        case TEvent::TLayer::Log:
            break;
    }
    return "log";
}

std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

// Joins the items of a JSON array, one a line.
template <class TItems, class TRender>
std::string JsonArray(const TItems& items, TRender render) {
    std::string text = "[";
    const char* separator = "\n    ";
    for (const auto& item : items) {
        text += separator + render(item);
        separator = ",\n    ";
    }
    return text + (items.empty() ? "]" : "\n  ]");
}

}  // namespace

std::string RenderText(const TDecodeReport& report) {
    std::size_t sourceWidth = 0;
    for (const TEvent& event : report.timeline) {
        sourceWidth = std::max(sourceWidth, event.source.size());
    }
    std::string text = "Timeline (> sent, < received by the log's owner):\n";
    std::size_t problems = 0;
    for (const TEvent& event : report.timeline) {
        problems += IsProblem(event) ? 1 : 0;
        text += event.stamp.Text() + " " + Padded(event.source, sourceWidth) + " " +
                event.direction + " " + Indent(event.layer) + event.text + "\n";
    }
    for (const std::string& stop : report.stops) {
        text += stop + "\n";
    }
    text += "\nProblems: " + std::to_string(problems) + "\n";
    for (const TEvent& event : report.timeline) {
        if (IsProblem(event)) {
            text += event.stamp.Text() + " " + event.source + ": " + event.text + "\n";
        }
    }
    // The agent's measures, counted by their kind, the text before the colon.
    std::map<std::string, std::size_t> measures;
    std::size_t measureCount = 0;
    for (const TEvent& event : report.timeline) {
        if (event.layer == TEvent::TLayer::Measure) {
            ++measures[event.text.substr(0, event.text.find(':'))];
            ++measureCount;
        }
    }
    text += "\nMeasures: " + std::to_string(measureCount) + "\n";
    for (const auto& [kind, count] : measures) {
        text += kind + ": " + std::to_string(count) + "\n";
    }
    text += "\nConnections: " + std::to_string(report.connections.size()) + "\n";
    for (const TConnectionSummary& connection : report.connections) {
        text += connection.source + " " + connection.name + " " + connection.target + ": " +
                connection.start.Text() + " for " +
                std::to_string(Duration(connection.start, connection.last)) + " s, " +
                std::to_string(connection.bytesOut) + " bytes out, " +
                std::to_string(connection.bytesIn) + " bytes in, " + connection.ending + "\n";
    }
    return text;
}

std::string RenderJson(const TDecodeReport& report) {
    std::string text = "{\n  \"timeline\": ";
    text += JsonArray(report.timeline, [](const TEvent& event) {
        return "{\"time\": " + JsonString(event.stamp.Text()) +
               ", \"source\": " + JsonString(event.source) + ", \"direction\": " +
               JsonString(event.direction == '>'   ? "sent"
                          : event.direction == '<' ? "received"
                                                   : "") +
               ", \"layer\": " + JsonString(LayerName(event.layer)) +
               ", \"text\": " + JsonString(event.text) + "}";
    });
    std::vector<TEvent> problems;
    std::copy_if(report.timeline.begin(), report.timeline.end(), std::back_inserter(problems),
                 IsProblem);
    text += ",\n  \"problems\": ";
    text += JsonArray(problems, [](const TEvent& event) {
        return "{\"time\": " + JsonString(event.stamp.Text()) +
               ", \"source\": " + JsonString(event.source) +
               ", \"text\": " + JsonString(event.text) + "}";
    });
    text += ",\n  \"connections\": ";
    text += JsonArray(report.connections, [](const TConnectionSummary& connection) {
        return "{\"source\": " + JsonString(connection.source) +
               ", \"name\": " + JsonString(connection.name) +
               ", \"target\": " + JsonString(connection.target) +
               ", \"start\": " + JsonString(connection.start.Text()) +
               ", \"end\": " + JsonString(connection.last.Text()) +
               ", \"seconds\": " + std::to_string(Duration(connection.start, connection.last)) +
               ", \"bytes_out\": " + std::to_string(connection.bytesOut) +
               ", \"bytes_in\": " + std::to_string(connection.bytesIn) +
               ", \"ending\": " + JsonString(connection.ending) + "}";
    });
    text += ",\n  \"stopped\": ";
    text += JsonArray(report.stops, [](const std::string& stop) { return JsonString(stop); });
    return text + "\n}\n";
}
