#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the agent's capture options ask for: "--capture FILE" ("-" for standard output),
// "--capture-size MiB" and "--capture-files N" for a ring of bounded files.
struct TCaptureOptions {
    std::string path;
    // Bytes a file of the ring may hold, from "--capture-size MiB" (a number such as 2 or
    // 0.5); 0: one file without a bound.
    std::uint64_t fileBytes = 0;
    // Files of the ring; 0 until given (then 2 with a size).
    unsigned long files = 0;

    // The largest file size and ring that may be asked for.
    static constexpr double kMinSizeMiB = 1.0 / 16;
    static constexpr double kMaxSizeMiB = 1024 * 1024;
    static constexpr unsigned long kMaxFiles = 100000;
    static constexpr unsigned long kDefaultRingFiles = 2;
};

// Takes the capture option at arguments[at], as "--name VALUE" or "--name=VALUE", moving at
// past it. False when arguments[at] is none of them; error tells what is wrong with a value.
bool ParseCaptureOption(const std::vector<std::string>& arguments, std::size_t& at,
                        TCaptureOptions& options, std::string& error);
// What is wrong with the options taken together, or an empty text.
std::string CheckCaptureOptions(const TCaptureOptions& options);
