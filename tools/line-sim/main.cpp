// line-sim: a simulated serial line between two pseudo-terminals, paced and
// damaged on the way, for testing both halves of the tunnel.

#include <string>
#include <variant>

#include "common/CommandLine.h"
#include "common/OutputFile.h"
#include "line-sim/LineSimulator.h"
#include "platform/linux/StopSignals.h"

int main(int argc, char** argv) {
    const auto read =
        ReadCommandLine<TLineSimOptions>(kLineSimSyntax, argc, argv, ParseLineSimOptions);
    if (const int* status = std::get_if<int>(&read)) {
        return *status;
    }
    const TLineSimOptions& options = std::get<TLineSimOptions>(read);
    const std::string_view program = kLineSimSyntax.program;
    std::string error;
    // The counts are written at the end; a path they cannot go to is told
    // now, not after the run.
    if (!options.statsPath.empty() && !TOutputFile::Check(options.statsPath, error)) {
        return ToolFailure(program, 1, "--stats: " + error);
    }
    CatchStopSignals();

    auto line = TLineSimulator::Create(options, error);
    if (!line) {
        return ToolFailure(program, 1, error);
    }
    while (!StopRequested()) {
        line->Step(std::chrono::milliseconds(1000));
    }
    if (!options.statsPath.empty() && !line->WriteStats(options.statsPath, error)) {
        return ToolFailure(program, 1, error);
    }
    return 0;
}
