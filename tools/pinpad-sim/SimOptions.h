#pragma once

#include <optional>
#include <string>

#include "common/CommandLine.h"

// What the simulator was asked to do, from its command line.
struct TSimOptions {
    enum class TCommand { Connect, Listen, Get };

    TCommand command = TCommand::Connect;
    std::string linePath;  // --line: a serial device to open
    std::string ptyLink;   // --pty: where to link the agent's side of a new pseudo-terminal
    std::string host;      // connect: dotted address or name
    unsigned short port = 0;
    std::string url;  // get: what to fetch
    // get: -o, where the body goes; standard output when empty or "-"
    std::string outputPath;
    unsigned waitSeconds = 30;
    bool verbose = false;
};

// Exit statuses of the simulator.
enum TSimExit : int {
    SIM_EXIT_OK = 0,
    SIM_EXIT_LINE_UNUSABLE = 1,
    SIM_EXIT_BAD_ARGUMENTS = 2,
    SIM_EXIT_NO_LINK = 3,
    SIM_EXIT_REFUSED = 4,
    SIM_EXIT_CLOSED_BY_AGENT = 5,
    SIM_EXIT_HTTP_FAILED = 6,
    SIM_EXIT_OUTPUT_UNUSABLE = 7,
};

// The simulator's command line: its name, usage and options.
extern const TToolSyntax kSimSyntax;

// The options of a split command line. On failure returns nothing and says
// what is wrong in error.
std::optional<TSimOptions> ParseSimOptions(const TArguments& args, std::string& error);
