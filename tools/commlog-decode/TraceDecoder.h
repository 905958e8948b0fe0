#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "DecodeReport.h"

// A log file's name (as shown in the report) and its contents.
struct TLogFile {
    std::string name;
    std::string text;
};

// Decodes every file, a socket log ("sock...") or otherwise a serial log, and
// merges their events into one timeline by time stamp; each file's own order
// is kept, and at equal stamps the earlier file in the list comes first.
TDecodeReport DecodeLogs(const std::vector<TLogFile>& files);

// Bounds of what is read, so that memory stays bounded on any input: a
// traffic log's lines are short, and its files are rotated long before this
// size.
inline constexpr std::size_t kMaxLogLineLength = 4096;
inline constexpr std::size_t kMaxLogBytes = std::size_t{64} << 20;  // all files together

// Why the files could not be read.
enum class TReadFailure {
    None,
    Unreadable,  // missing, no permission, a directory without logs
    NotALog,     // a line longer than kMaxLogLineLength, or more than kMaxLogBytes
};

// The files named on the command line: a directory stands for its
// "CommLog*.txt" files followed by its "sock*.txt" files. Reads them all
// into files; on failure says why in error, with the system's reason where
// there is one. An entry of a directory that cannot be read (a loop of
// symbolic links, a file it may not open) is passed over and noted in
// skipped as "path: cannot be read: reason".
TReadFailure ReadLogFiles(const std::vector<std::string>& paths, std::vector<TLogFile>& files,
                          std::vector<std::string>& skipped, std::string& error);
