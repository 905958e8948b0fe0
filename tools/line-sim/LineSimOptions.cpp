#include "line-sim/LineSimOptions.h"

#include <cstdlib>
#include <filesystem>

#include "common/WholeNumber.h"

namespace {

bool ParseNonNegative(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size() && value >= 0;
}

const TOptionSpec kOptions[] = {
    {"--agent-link", "", true}, {"--terminal-link", "", true}, {"--control", "", true},
    {"--stats", "", true},      {"--rate", "", true},          {"--ber", "", true},
    {"--drop", "", true},       {"--seed", "", true},
};

}  // namespace

std::optional<TLineSimOptions> ParseLineSimOptions(const TArguments& args, std::string& error) {
    TLineSimOptions options;
    if (!args.operands.empty()) {
        error = "unexpected argument " + args.operands.front();
        return std::nullopt;
    }
    for (const TGivenOption& option : args.options) {
        const std::string& value = option.value;
        bool good = true;
        if (option.name == "--agent-link") {
            options.agentLink = value;
        } else if (option.name == "--terminal-link") {
            options.terminalLink = value;
        } else if (option.name == "--control") {
            options.controlPath = value;
        } else if (option.name == "--stats") {
            options.statsPath = value;
        } else if (option.name == "--rate") {
            good = ParseNonNegative(value, options.rate);
        } else if (option.name == "--ber") {
            good = ParseNonNegative(value, options.ber) && options.ber <= 1;
        } else if (option.name == "--drop") {
            good = ParseNonNegative(value, options.drop) && options.drop <= 1;
        } else {
            good = ParseWholeNumber(value, options.seed);
        }
        if (!good) {
            error = "bad value for " + std::string(option.name) + ": " + value;
            return std::nullopt;
        }
    }
    if (options.agentLink.empty() || options.terminalLink.empty()) {
        error = "both --agent-link and --terminal-link are needed";
        return std::nullopt;
    }
    // One path for both would leave the second link in place of the first.
    std::error_code ignored;
    if (std::filesystem::absolute(options.agentLink, ignored).lexically_normal() ==
        std::filesystem::absolute(options.terminalLink, ignored).lexically_normal()) {
        error = "--agent-link and --terminal-link must be two different paths";
        return std::nullopt;
    }
    return options;
}

const TToolSyntax kLineSimSyntax{
    "line-sim",
    "usage: line-sim --agent-link PATH --terminal-link PATH [options]\n"
    "\n"
    "A simulated serial line between two pseudo-terminals, linked at the two\n"
    "paths: bytes written on one side reach the other after their transmission\n"
    "time, with faults injected on the way.\n"
    "  --rate BYTES_PER_S  pace each direction (default 11520; 0: unpaced)\n"
    "  --ber RATE          chance of each bit to flip (default 0)\n"
    "  --drop RATE         chance of each byte to be lost (default 0)\n"
    "  --seed N            seed of the faults (default 1)\n"
    "  --control PATH      create a FIFO there and take commands from it\n"
    "  --stats PATH        write the counts there (JSON) when ending\n"
    "  -h, --help          show this text\n"
    "  --version           show the version\n"
    "Commands, one a line:\n"
    "  garbage N [agent|terminal|both]  N random bytes toward that side (both);\n"
    "                      N from 1 to 65536\n"
    "  silence MS          lose everything sent in the next MS milliseconds (at\n"
    "                      most an hour)\n"
    "  replace             the agent's device vanishes; a new one appears at\n"
    "                      the same link\n"
    "  faults BER DROP     change the fault rates\n"
    "  stats PATH          write the counts to PATH (JSON)\n"
    "An existing path is refused, unless it is a link to a pseudo-terminal that\n"
    "no longer exists (left by an earlier run). Ends on SIGINT or SIGTERM,\n"
    "removing the links it made while they still point at its pseudo-terminals.\n",
    kOptions};
