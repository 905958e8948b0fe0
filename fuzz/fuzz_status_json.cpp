// Feeds arbitrary text to the reader of the agent's status file, as
// "agent --status" does with whatever lies under the name: it must refuse or
// take it without crashing or hanging, and what it takes must be written back
// the same and shown for a person.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "agent/AgentStatus.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto status = StatusFromJson(input, error);
    if (!status) {
        return 0;
    }
    const std::string shown = DescribeStatus(*status, false);
    if (shown.empty()) {
        std::abort();  // every status has its lines
    }
    const auto again = StatusFromJson(StatusToJson(*status), error);
    if (!again || StatusToJson(*again) != StatusToJson(*status)) {
        std::abort();  // what the agent writes of a status must read back as that status
    }
    return 0;
}
