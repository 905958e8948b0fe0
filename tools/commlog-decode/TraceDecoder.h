#pragma once

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

// The files named on the command line: a directory stands for its
// "CommLog*.txt" files followed by its "sock*.txt" files. Reads them all; on
// failure returns nothing useful and says why in error.
std::vector<TLogFile> ReadLogFiles(const std::vector<std::string>& paths, std::string& error);
