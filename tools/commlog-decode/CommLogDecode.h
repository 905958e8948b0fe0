#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/CommandLine.h"

// Exit statuses of commlog-decode.
enum TDecodeExit : int {
    DECODE_EXIT_OK = 0,          // decoded, problems in the logs or not
    DECODE_EXIT_UNREADABLE = 1,  // a file or directory cannot be read
    DECODE_EXIT_BAD_ARGUMENTS = kWrongArgumentsStatus,
    DECODE_EXIT_NOT_A_LOG = 3,  // no log entry in the input, or input beyond the bounds
};

// What commlog-decode was asked to do.
struct TDecodeOptions {
    bool json = false;
    std::vector<std::string> paths;  // log files and directories
    // "--pcapng OUT": write a capture for Wireshark there instead of the report.
    std::string pcapng;
};

// The decoder's command line: its name, usage and options.
extern const TToolSyntax kDecodeSyntax;

// The options of a split command line; nothing, with the reason in error,
// when they are wrong.
std::optional<TDecodeOptions> ParseDecodeOptions(const TArguments& args, std::string& error);

// The whole program on its options: the report goes to out, complaints,
// each starting with the program's name, to err. Returns the exit status.
int RunCommLogDecode(const TDecodeOptions& options, std::ostream& out, std::ostream& err);
