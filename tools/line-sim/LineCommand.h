#pragma once

#include <cstdint>
#include <optional>
#include <string>

// One control command of the line simulator, read strictly from its line: the verb and exactly
// the words it takes, separated by blanks; every count a whole decimal number within its
// bounds. Bounded, a command queues or holds little, so the simulator answers signals at once.
struct TLineCommand {
    enum class Verb { kGarbage, kSilence, kReplace, kFaults, kStats };

    // Most random bytes one garbage command queues, and the longest silence.
    static constexpr std::uint64_t kMostGarbage = 64 * 1024;
    static constexpr std::uint64_t kLongestSilenceMs = 3600 * 1000;

    Verb verb = Verb::kReplace;
    std::uint64_t count = 0;  // garbage: bytes, 1 to kMostGarbage; silence: ms
    bool toAgent = false;     // garbage: the sides it goes toward
    bool toTerminal = false;
    double ber = 0;  // faults: rates from 0 to 1
    double drop = 0;
    std::string path;  // stats
};

// The command a line holds; nothing, with the reason in error, when it holds none.
std::optional<TLineCommand> ParseLineCommand(const std::string& line, std::string& error);
