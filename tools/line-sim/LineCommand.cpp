#include "line-sim/LineCommand.h"

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "common/WholeNumber.h"

namespace {

std::vector<std::string> Words(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

// A rate from 0 to 1, written as a decimal number and nothing else.
std::optional<double> ParseRate(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value) || value < 0 || value > 1) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<TLineCommand> ParseLineCommand(const std::string& line, std::string& error) {
    const std::vector<std::string> words = Words(line);
    if (words.empty()) {
        error = "empty command";
        return std::nullopt;
    }
    const std::string& verb = words[0];
    TLineCommand command;
    const auto takes = [&](std::size_t least, std::size_t most, const char* usage) {
        if (words.size() - 1 >= least && words.size() - 1 <= most) {
            return true;
        }
        error = std::string("usage: ") + usage;
        return false;
    };
    if (verb == "garbage") {
        if (!takes(1, 2, "garbage N [agent|terminal|both]")) {
            return std::nullopt;
        }
        if (!ParseWholeNumber(words[1], command.count) || command.count == 0 ||
            command.count > TLineCommand::kMostGarbage) {
            error = "garbage needs a byte count from 1 to " +
                    std::to_string(TLineCommand::kMostGarbage) + ", not " + words[1];
            return std::nullopt;
        }
        const std::string side = words.size() > 2 ? words[2] : "both";
        if (side != "agent" && side != "terminal" && side != "both") {
            error = "garbage goes toward agent, terminal or both, not " + side;
            return std::nullopt;
        }
        command.verb = TLineCommand::Verb::kGarbage;
        command.toAgent = side != "terminal";
        command.toTerminal = side != "agent";
        return command;
    }
    if (verb == "silence") {
        if (!takes(1, 1, "silence MS")) {
            return std::nullopt;
        }
        if (!ParseWholeNumber(words[1], command.count) ||
            command.count > TLineCommand::kLongestSilenceMs) {
            error = "silence needs a duration from 0 to " +
                    std::to_string(TLineCommand::kLongestSilenceMs) + " milliseconds, not " +
                    words[1];
            return std::nullopt;
        }
        command.verb = TLineCommand::Verb::kSilence;
        return command;
    }
    if (verb == "replace") {
        if (!takes(0, 0, "replace")) {
            return std::nullopt;
        }
        command.verb = TLineCommand::Verb::kReplace;
        return command;
    }
    if (verb == "faults") {
        if (!takes(2, 2, "faults BER DROP")) {
            return std::nullopt;
        }
        const std::optional<double> ber = ParseRate(words[1]);
        const std::optional<double> drop = ParseRate(words[2]);
        if (!ber || !drop) {
            error = "faults needs a bit-error rate and a drop rate between 0 and 1";
            return std::nullopt;
        }
        command.verb = TLineCommand::Verb::kFaults;
        command.ber = *ber;
        command.drop = *drop;
        return command;
    }
    if (verb == "stats") {
        if (!takes(1, 1, "stats PATH")) {
            return std::nullopt;
        }
        command.verb = TLineCommand::Verb::kStats;
        command.path = words[1];
        return command;
    }
    error = "unknown command: " + line;
    return std::nullopt;
}
