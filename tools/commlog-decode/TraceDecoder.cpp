#include "TraceDecoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "LogDecoders.h"
#include "platform/Descriptor.h"

namespace {

namespace fs = std::filesystem;

// The log files of the directory. An entry whose kind cannot be told (a loop of symbolic
// links, one it may not look at) is noted in skipped with the reason, and the walk goes on.
std::vector<std::string> LogsIn(const fs::path& directory, std::vector<std::string>& skipped,
                                std::error_code& failure) {
    std::vector<std::string> lines;
    std::vector<std::string> sockets;
    fs::directory_iterator it(directory, failure);
    for (; !failure && it != fs::directory_iterator(); it.increment(failure)) {
        const fs::directory_entry& entry = *it;
        const std::string name = entry.path().filename().string();
        std::error_code kind;
        const bool regular = entry.is_regular_file(kind);
        if (kind) {
            skipped.push_back(entry.path().string() + ": cannot be read: " + kind.message());
            continue;
        }
        if (!regular || !name.ends_with(".txt")) {
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
        const std::size_t best = EarliestNext(files, next);
        if (best == files.size()) {
            return timeline;
        }
        timeline.push_back(std::move(files[best][next[best]++]));
    }
}

// Appends the file's text to text, stopping at a line longer than
// kMaxLogLineLength or once total, the bytes read of all files, would pass
// kMaxLogBytes.
TReadFailure ReadBounded(const std::string& name, std::string& text, std::size_t& total,
                         std::string& error) {
    const TDescriptor file(open(name.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen()) {
        error = name + ": cannot be read: " + std::strerror(errno);
        return TReadFailure::Unreadable;
    }
    std::size_t lineLength = 0;
    std::size_t lineNumber = 1;
    char chunk[65536];
    for (;;) {
        const ssize_t count = read(file.Get(), chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            error = name + ": cannot be read: " + std::strerror(errno);
            return TReadFailure::Unreadable;
        }
        if (count == 0) {
            return TReadFailure::None;
        }
        for (ssize_t i = 0; i < count; ++i) {
            if (chunk[i] == '\n') {
                lineLength = 0;
                ++lineNumber;
            } else if (++lineLength > kMaxLogLineLength) {
                error = name + ": line " + std::to_string(lineNumber) + " is longer than " +
                        std::to_string(kMaxLogLineLength) + " bytes: not a traffic log";
                return TReadFailure::NotALog;
            }
        }
        total += static_cast<std::size_t>(count);
        if (total > kMaxLogBytes) {
            error = name + ": the logs hold more than " + std::to_string(kMaxLogBytes >> 20) +
                    " MiB together; decode fewer files or a part of them";
            return TReadFailure::NotALog;
        }
        text.append(chunk, static_cast<std::size_t>(count));
    }
}

}  // namespace

TDecodeReport DecodeLogs(const std::vector<TLogFile>& files) {
    TDecodeReport report;
    std::vector<std::vector<TEvent>> events;
    for (const TLogFile& file : files) {
        const TCommLog log = ReadCommLog(file.text);
        report.entries += log.entries.size();
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

TReadFailure ReadLogFiles(const std::vector<std::string>& paths, std::vector<TLogFile>& files,
                          std::vector<std::string>& skipped, std::string& error) {
    // Each name, and whether it was found in a directory rather than named.
    std::vector<std::pair<std::string, bool>> names;
    for (const std::string& path : paths) {
        std::error_code failure;
        if (fs::is_directory(path, failure)) {
            const std::vector<std::string> inside = LogsIn(path, skipped, failure);
            if (failure) {
                error = path + ": cannot be read: " + failure.message();
                return TReadFailure::Unreadable;
            }
            if (inside.empty()) {
                error = path + ": no CommLog*.txt or sock*.txt files in this directory";
                return TReadFailure::Unreadable;
            }
            for (const std::string& name : inside) {
                names.emplace_back(name, true);
            }
        } else {
            names.emplace_back(path, false);
        }
    }
    std::size_t total = 0;
    for (const auto& [name, inDirectory] : names) {
        TLogFile file{fs::path(name).filename().string(), ""};
        const TReadFailure failure = ReadBounded(name, file.text, total, error);
        if (failure == TReadFailure::Unreadable && inDirectory) {
            skipped.push_back(error);
            continue;
        }
        if (failure != TReadFailure::None) {
            return failure;
        }
        files.push_back(std::move(file));
    }
    return TReadFailure::None;
}
