#include "line-sim/LineSimOptions.h"

#include <cstdlib>

#include "pinpad-sim/WholeNumber.h"

namespace {

bool ParseNonNegative(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size() && value >= 0;
}

}  // namespace

std::optional<TLineSimOptions> ParseLineSimOptions(const std::vector<std::string>& args,
                                                   std::string& error) {
    TLineSimOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "-h" || name == "--help") {
            options.help = true;
            return options;
        }
        if (i + 1 >= args.size()) {
            error = name.starts_with("--") ? name + " needs a value" : "unknown argument " + name;
            return std::nullopt;
        }
        const std::string& value = args[++i];
        bool good = true;
        if (name == "--agent-link") {
            options.agentLink = value;
        } else if (name == "--terminal-link") {
            options.terminalLink = value;
        } else if (name == "--control") {
            options.controlPath = value;
        } else if (name == "--stats") {
            options.statsPath = value;
        } else if (name == "--rate") {
            good = ParseNonNegative(value, options.rate);
        } else if (name == "--ber") {
            good = ParseNonNegative(value, options.ber) && options.ber <= 1;
        } else if (name == "--drop") {
            good = ParseNonNegative(value, options.drop) && options.drop <= 1;
        } else if (name == "--seed") {
            good = ParseWholeNumber(value, options.seed);
        } else {
            error = "unknown argument " + name;
            return std::nullopt;
        }
        if (!good) {
            error = "bad value for " + name + ": " + value;
            return std::nullopt;
        }
    }
    if (options.agentLink.empty() || options.terminalLink.empty()) {
        error = "both --agent-link and --terminal-link are needed";
        return std::nullopt;
    }
    return options;
}

const char* LineSimUsage() {
    return "usage: line-sim --agent-link PATH --terminal-link PATH [options]\n"
           "A simulated serial line between two pseudo-terminals, linked at the two\n"
           "paths: bytes written on one side reach the other after their transmission\n"
           "time, with faults injected on the way.\n"
           "  --rate BYTES_PER_S  pace each direction (default 11520; 0: unpaced)\n"
           "  --ber RATE          chance of each bit to flip (default 0)\n"
           "  --drop RATE         chance of each byte to be lost (default 0)\n"
           "  --seed N            seed of the faults (default 1)\n"
           "  --control PATH      create a FIFO there and take commands from it\n"
           "  --stats PATH        write the counts there (JSON) when ending\n"
           "Commands, one a line:\n"
           "  garbage N [agent|terminal|both]  N random bytes toward that side (both)\n"
           "  silence MS          lose everything sent in the next MS milliseconds\n"
           "  replace             the agent's device vanishes; a new one appears at\n"
           "                      the same link\n"
           "  faults BER DROP     change the fault rates\n"
           "  stats PATH          write the counts to PATH (JSON)\n"
           "Ends on SIGINT or SIGTERM, removing its links.\n";
}
