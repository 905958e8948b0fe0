// line-sim: a simulated serial line between two pseudo-terminals, paced and
// damaged on the way, for testing both halves of the tunnel.

#include <cstdio>
#include <string>
#include <vector>

#include "line-sim/LineSimulator.h"
#include "pinpad-sim/StopSignal.h"

int main(int argc, char** argv) {
    std::string error;
    const auto options = ParseLineSimOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "line-sim: %s (see line-sim --help)\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(LineSimUsage(), stdout);
        return 0;
    }
    CatchStopSignals();

    auto line = TLineSimulator::Create(*options, error);
    if (!line) {
        std::fprintf(stderr, "line-sim: %s\n", error.c_str());
        return 1;
    }
    while (!StopRequested()) {
        line->Step(std::chrono::milliseconds(1000));
    }
    if (!options->statsPath.empty() && !line->WriteStats(options->statsPath)) {
        std::fprintf(stderr, "line-sim: cannot write %s\n", options->statsPath.c_str());
        return 1;
    }
    return 0;
}
