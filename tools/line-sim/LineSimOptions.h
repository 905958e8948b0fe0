#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/CommandLine.h"

// How the line simulator was asked to run, from its command line.
struct TLineSimOptions {
    std::string agentLink;     // where to link the agent's side
    std::string terminalLink;  // where to link the terminal's side
    std::string controlPath;   // a FIFO created for commands; none when empty
    std::string statsPath;     // counts written here at exit; none when empty
    double rate = 11520;       // bytes per second each way; 0 unpaced
    double ber = 0;            // chance of each bit to flip
    double drop = 0;           // chance of each byte to be lost
    std::uint64_t seed = 1;
};

// The line simulator's command line: its name, usage and options.
extern const TToolSyntax kLineSimSyntax;

// The options of a split command line; nothing, with the reason in error,
// when they are wrong.
std::optional<TLineSimOptions> ParseLineSimOptions(const TArguments& args, std::string& error);
