#pragma once

#include <ostream>
#include <string>
#include <vector>

// Exit statuses of commlog-decode.
enum TDecodeExit : int {
    DECODE_EXIT_OK = 0,          // decoded, problems in the logs or not
    DECODE_EXIT_UNREADABLE = 1,  // a file or directory cannot be read
    DECODE_EXIT_BAD_ARGUMENTS = 2,
};

// The whole program on the arguments after its name: the report goes to out,
// complaints to err.
int RunCommLogDecode(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The --help text.
const char* DecodeUsage();
