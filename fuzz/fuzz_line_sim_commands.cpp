// Feeds arbitrary lines to the line simulator's control-command parser: it must refuse what is
// not a command without fault, and no command it takes may queue or hold more than its bounds.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "line-sim/LineCommand.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<TLineCommand> command = ParseLineCommand(line, error);
    if (!command) {
        if (error.empty()) {
            __builtin_trap();  // refused without a reason
        }
        return 0;
    }
    const bool outOfBounds =
        (command->verb == TLineCommand::Verb::kGarbage &&
         (command->count == 0 || command->count > TLineCommand::kMostGarbage)) ||
        (command->verb == TLineCommand::Verb::kSilence &&
         command->count > TLineCommand::kLongestSilenceMs) ||
        (command->verb == TLineCommand::Verb::kFaults &&
         !(command->ber >= 0 && command->ber <= 1 && command->drop >= 0 && command->drop <= 1));
    if (outOfBounds) {
        __builtin_trap();
    }
    return 0;
}
