// tunnel-load: load tests of the tunnel with checked data; the data server
// on the network side and our terminal half on the line side.

#include <csignal>
#include <cstdio>
#include <string>
#include <variant>

#include "common/SimLine.h"
#include "platform/linux/StopSignals.h"
#include "support/TerminalModel.h"
#include "tunnel-load/DataServer.h"
#include "tunnel-load/LoadClient.h"
#include "tunnel-load/LoadOptions.h"
#include "tunnel-load/RawLine.h"

namespace {

int Fail(const std::string& message) {
    return ToolFailure(kLoadSyntax.program, 1, message);
}

int Serve(const TLoadOptions& options) {
    std::string error;
    const auto server = TDataServer::Listen(options.port, error);
    if (!server) {
        return Fail(error);
    }
    std::printf("port %u\n", server->Port());
    std::fflush(stdout);
    while (!StopRequested()) {
        server->Step(1000);
    }
    return 0;
}

int RunTests(const TLoadOptions& options) {
    std::unique_ptr<TSimLine> line;
    std::unique_ptr<TTerminalModel> model;  // ends before the line it uses
    std::unique_ptr<TLoadClient> client;
    bool passed = true;
    for (const TLoadOptions::TTest& test : options.tests) {
        TReport report;
        if (test.name == "line-check") {
            report = CheckLine(options.linePath, test.amount, options.stallSeconds);
        } else {
            if (!line) {
                std::string error;
                line = TSimLine::OpenDevice(options.linePath, error);
                if (!line) {
                    return Fail(error);
                }
                if (options.modelTerminal) {
                    TSimLine& terminalLine = *line;
                    model = std::make_unique<TTerminalModel>(
                        [&terminalLine] { return terminalLine.OpenLine(); }, false);
                    line->UseNetwork(model.get());
                }
                if (!line->WaitForAgent(options.waitSeconds, [] { return false; })) {
                    return Fail("no agent answered on " + options.linePath);
                }
                client = std::make_unique<TLoadClient>(*line, options.port,
                                                       std::chrono::seconds(options.stallSeconds));
                client->PauseInTransfers(std::chrono::milliseconds(options.pauseMs));
                if (options.modelTerminal) {
                    client->GiveUpQuietUploads(std::chrono::seconds(3));
                }
            }
            const unsigned amount = static_cast<unsigned>(test.amount);
            report = test.name == "download" ? client->Download(test.amount)
                     : test.name == "upload" ? client->Upload(test.amount)
                     : test.name == "echo"   ? client->Echo(amount)
                     : test.name == "calls"  ? client->Calls(amount)
                                             : client->Probe(amount);
        }
        std::printf("%s\n", report.json.c_str());
        std::fflush(stdout);
        passed = passed && report.passed;
    }
    return passed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const auto read = ReadCommandLine<TLoadOptions>(kLoadSyntax, argc, argv, ParseLoadOptions);
    if (const int* status = std::get_if<int>(&read)) {
        return *status;
    }
    const TLoadOptions& options = std::get<TLoadOptions>(read);
    switch (options.mode) {
        case TLoadOptions::TMode::Serve:
            CatchStopSignals();
            return Serve(options);
        case TLoadOptions::TMode::LineEcho: {
            CatchStopSignals();
            std::string error;
            const int status = EchoLine(options.linePath, StopRequested, error);
            return status == 0 ? 0 : Fail(error);
        }
        case TLoadOptions::TMode::Terminal:
            // A test run ends at once when it is interrupted or terminated:
            // nothing of it needs to be tidied up.
            std::signal(SIGPIPE, SIG_IGN);
            return RunTests(options);
    }
    return 0;
}
