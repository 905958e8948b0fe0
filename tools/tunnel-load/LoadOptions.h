#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/CommandLine.h"

// What tunnel-load was asked to do, from its command line.
struct TLoadOptions {
    enum class TMode { Serve, Terminal, LineEcho };

    // One test of a terminal run: its name and its amount (bytes, round
    // trips, calls or seconds).
    struct TTest {
        std::string name;
        std::uint64_t amount = 0;
    };

    TMode mode = TMode::Terminal;
    std::string linePath;        // --line: the terminal's serial device
    std::uint16_t port = 0;      // --port: the data server's port on 127.0.0.1
    unsigned waitSeconds = 30;   // --wait: for the agent to answer
    unsigned stallSeconds = 20;  // --stall: a test with no progress this long fails
    bool modelTerminal = false;  // --terminal model: the terminal model instead of our half
    unsigned pauseMs = 0;        // --pause: the terminal stays away once in each transfer
    std::vector<TTest> tests;    // a terminal run's tests, at least one
};

// tunnel-load's command line: its name, usage and options.
extern const TToolSyntax kLoadSyntax;

// The options of a split command line: exactly one of "serve", "line-echo"
// or a list of TEST AMOUNT pairs among the operands. Nothing, with the
// reason in error, when they are wrong.
[[nodiscard]] std::optional<TLoadOptions> ParseLoadOptions(const TArguments& args,
                                                           std::string& error);
