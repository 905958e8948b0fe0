#include "TraceDecoder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "LogDecoders.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> LogsIn(const fs::path& directory, std::error_code& failure) {
    std::vector<std::string> lines;
    std::vector<std::string> sockets;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory, failure)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || !name.ends_with(".txt")) {
            continue;
        }
        if (name.starts_with("CommLog")) {
            lines.push_back(entry.path().string());
        } else if (name.starts_with("sock")) {
            sockets.push_back(entry.path().string());
        }
    }
    std::sort(lines.begin(), lines.end());
    std::sort(sockets.begin(), sockets.end());
    lines.insert(lines.end(), sockets.begin(), sockets.end());
    return lines;
}

// Merges the files' events, always taking the earliest next event.
std::vector<TEvent> Merge(std::vector<std::vector<TEvent>>& files) {
    std::vector<TEvent> timeline;
    std::vector<std::size_t> next(files.size(), 0);
    for (;;) {
        std::size_t best = files.size();
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (next[i] < files[i].size() &&
                (best == files.size() ||
                 files[i][next[i]].stamp.Key() < files[best][next[best]].stamp.Key())) {
                best = i;
            }
        }
        if (best == files.size()) {
            return timeline;
        }
        timeline.push_back(std::move(files[best][next[best]++]));
    }
}

}  // namespace

TDecodeReport DecodeLogs(const std::vector<TLogFile>& files) {
    TDecodeReport report;
    std::vector<std::vector<TEvent>> events;
    for (const TLogFile& file : files) {
        const TCommLog log = ReadCommLog(file.text);
        TFileDecode decoded = file.name.starts_with("sock") ? DecodeSocketLog(file.name, log)
                                                            : DecodeLineLog(file.name, log);
        if (log.skippedLines != 0 && !log.entries.empty()) {
            TEventSink sink(file.name);
            sink.Problem(
                log.entries.front().stamp,
                std::to_string(log.skippedLines) + " lines before the first entry are skipped");
            std::vector<TEvent> skipped = sink.Take();
            decoded.events.insert(decoded.events.begin(), skipped.begin(), skipped.end());
        }
        if (log.stop) {
            report.stops.push_back(file.name + ": decoding stopped at line " +
                                   std::to_string(log.stop->line) + ": " + log.stop->reason +
                                   "; the rest of the file is not decoded");
        }
        events.push_back(std::move(decoded.events));
        report.connections.insert(report.connections.end(), decoded.connections.begin(),
                                  decoded.connections.end());
    }
    report.timeline = Merge(events);
    return report;
}

std::vector<TLogFile> ReadLogFiles(const std::vector<std::string>& paths, std::string& error) {
    std::vector<std::string> names;
    for (const std::string& path : paths) {
        std::error_code failure;
        if (fs::is_directory(path, failure)) {
            const std::vector<std::string> inside = LogsIn(path, failure);
            if (failure) {
                error = path + ": " + failure.message();
                return {};
            }
            if (inside.empty()) {
                error = path + ": no CommLog*.txt or sock*.txt files in this directory";
                return {};
            }
            names.insert(names.end(), inside.begin(), inside.end());
        } else {
            names.push_back(path);
        }
    }
    std::vector<TLogFile> files;
    for (const std::string& name : names) {
        std::ifstream stream(name, std::ios::binary);
        if (!stream) {
            error = name + ": cannot be read";
            return {};
        }
        std::string text{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
        if (stream.bad()) {
            error = name + ": cannot be read";
            return {};
        }
        files.push_back(TLogFile{fs::path(name).filename().string(), std::move(text)});
    }
    return files;
}
