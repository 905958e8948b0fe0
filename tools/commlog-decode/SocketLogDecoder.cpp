#include <optional>
#include <vector>

#include "LogDecoders.h"
#include "PacketText.h"

TFileDecode DecodeSocketLog(const std::string& source, const TCommLog& log) {
    TEventSink sink(source);
    TFileDecode result;
    std::optional<TConnectionSummary> open;
    bool failed = false;
    int count = 0;
    for (const TLogEntry& entry : log.entries) {
        if (!open) {
            open = TConnectionSummary{
                source, "connection " + std::to_string(++count), "", entry.stamp, entry.stamp, 0, 0,
                ""};
            failed = false;
        }
        open->last = entry.stamp;
        const auto length = std::to_string(entry.bytes.Length());
        switch (entry.kind) {
            case TLogEntry::TKind::Connected:
                open->target = entry.text.empty() ? "outgoing" : "peer " + entry.text;
                sink.Add(entry.stamp, ' ', TEvent::TLayer::Log,
                         entry.text.empty() ? "Connected" : "Connected " + entry.text);
                break;
            case TLogEntry::TKind::Sent:
                open->bytesOut += entry.bytes.Length();
                sink.Add(entry.stamp, '>', TEvent::TLayer::Log,
                         "sent " + length + " bytes " + Preview(entry.bytes));
                break;
            case TLogEntry::TKind::Received:
                open->bytesIn += entry.bytes.Length();
                sink.Add(entry.stamp, '<', TEvent::TLayer::Log,
                         "received " + length + " bytes " + Preview(entry.bytes));
                break;
            case TLogEntry::TKind::Error:
                failed = true;
                sink.Add(entry.stamp, ' ', TEvent::TLayer::Log, "Error " + entry.text);
                sink.Problem(entry.stamp, open->name + ": the socket failed or broke");
                break;
            case TLogEntry::TKind::Disconnected:
                sink.Add(entry.stamp, ' ', TEvent::TLayer::Log, "Disconnected");
                open->ending = failed ? "failed, then closed" : "closed";
                result.connections.push_back(*open);
                open.reset();
                break;
            case TLogEntry::TKind::Other:
                sink.Add(entry.stamp, ' ', TEvent::TLayer::Log, entry.text);
                break;
        }
    }
    if (open) {
        open->ending = "never closed";
        sink.Problem(open->last, open->name + " never closed (still open where the log ends)");
        result.connections.push_back(*open);
    }
    result.events = sink.Take();
    return result;
}
