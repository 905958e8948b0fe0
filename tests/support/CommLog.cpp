#include "CommLog.h"

#include <gtest/gtest.h>

#include <regex>

std::vector<std::string> CommLogEntries(const std::string& logText) {
    static const std::regex kStamp(R"(\d\d\.\d\d \d\d:\d\d:\d\d )");
    constexpr std::size_t kStampLength = 15;
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start < logText.size()) {
        std::size_t end = logText.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "log line without CR LF: " << logText.substr(start);
            end = logText.size();
        }
        const std::string line = logText.substr(start, end - start);
        start = end + 2;
        if (line.empty() || line[0] == ' ') {
            continue;  // a continuation row of a hex dump
        }
        if (!std::regex_match(line.substr(0, kStampLength), kStamp)) {
            ADD_FAILURE() << "log line without a time stamp: " << line;
            continue;
        }
        entries.push_back(line.substr(kStampLength));
    }
    return entries;
}
