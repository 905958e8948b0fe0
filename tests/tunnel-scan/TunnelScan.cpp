// Many seeds of the in-memory transfer at once, for the completion figures of the frame level's
// measures (make scan): one table row per call, with the seeds that went wrong.
//
//     tunnel_scan [--terminal ours|model] [--upload] [--ber RATE] [--seeds N] [--first SEED]
//                 [--bytes N] [--stream] [--cuts PER_SECOND] [--no-probe] [--jobs N]
//
// The seeds are shared out among --jobs worker processes (default 2); each prints its counts,
// and the parent adds them up.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/MemoryTransfer.h"

namespace {

struct TScan {
    TTransferPlan plan;
    unsigned seeds = 100;
    unsigned first = 1;
    unsigned jobs = 2;
};

[[noreturn]] void Usage(const char* problem) {
    std::fprintf(stderr,
                 "tunnel_scan: %s\nusage: tunnel_scan [--terminal ours|model] [--upload] "
                 "[--ber RATE] [--seeds N] [--first SEED] [--bytes N] [--stream] "
                 "[--cuts PER_SECOND] [--no-probe] [--jobs N]\n",
                 problem);
    std::exit(2);
}

double Number(int& i, int argc, char** argv) {
    if (++i >= argc) {
        Usage("a number is missing");
    }
    char* end = nullptr;
    const double value = std::strtod(argv[i], &end);
    if (end == argv[i] || *end != '\0' || value < 0) {
        Usage("not a number");
    }
    return value;
}

TScan Parse(int argc, char** argv) {
    TScan scan;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--terminal" && i + 1 < argc) {
            const std::string kind = argv[++i];
            if (kind != "ours" && kind != "model") {
                Usage("--terminal takes ours or model");
            }
            scan.plan.terminal = kind == "ours" ? TTerminalKind::Ours : TTerminalKind::Model;
        } else if (option == "--upload") {
            scan.plan.download = false;
            scan.plan.upload = true;
        } else if (option == "--ber") {
            scan.plan.bitErrorRate = Number(i, argc, argv);
        } else if (option == "--seeds") {
            scan.seeds = static_cast<unsigned>(Number(i, argc, argv));
        } else if (option == "--first") {
            scan.first = static_cast<unsigned>(Number(i, argc, argv));
        } else if (option == "--bytes") {
            scan.plan.bytes = static_cast<std::size_t>(Number(i, argc, argv));
        } else if (option == "--stream") {
            scan.plan.streamMode = true;
        } else if (option == "--cuts") {
            scan.plan.cutsPerSecond = Number(i, argc, argv);
        } else if (option == "--no-probe") {
            scan.plan.agentOptions.probeUnanswered = false;
            scan.plan.ourTerminalOptions.probeUnanswered = false;
        } else if (option == "--jobs") {
            scan.jobs = std::max(1u, static_cast<unsigned>(Number(i, argc, argv)));
        } else {
            Usage(("unknown option " + option).c_str());
        }
    }
    return scan;
}

// One worker's share: every jobs-th seed from first + job.
void RunShare(const TScan& scan, unsigned job, std::FILE* out) {
    TTransferTally tally;
    std::string bad;
    for (unsigned seed = scan.first + job; seed < scan.first + scan.seeds; seed += scan.jobs) {
        TTransferPlan plan = scan.plan;
        plan.seed = seed;
        const TTransferRun run = RunMemoryTransfer(plan);
        const TTransferOutcome& outcome = plan.download ? run.download : run.upload;
        tally.Add(outcome, plan.terminal);
        if (outcome.wrongBytes || IsSilentFailure(outcome, plan.terminal) || !run.serviceBack) {
            bad += " " + std::to_string(seed);
        }
    }
    std::fprintf(out, "%u %u %u %u %u %u %u%s\n", tally.runs, tally.completed, tally.closed,
                 tally.wrong, tally.silent, tally.unanswered, tally.tcpLeftOpen, bad.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const TScan scan = Parse(argc, argv);
    std::vector<std::pair<pid_t, int>> workers;
    for (unsigned job = 0; job < scan.jobs; ++job) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            std::perror("tunnel_scan: pipe");
            return 1;
        }
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            std::FILE* out = fdopen(fds[1], "w");
            RunShare(scan, job, out);
            std::fclose(out);
            _exit(0);
        }
        close(fds[1]);
        workers.emplace_back(pid, fds[0]);
    }
    TTransferTally total;
    std::string bad;
    for (const auto& [pid, fd] : workers) {
        std::FILE* in = fdopen(fd, "r");
        char line[65536] = {};
        if (std::fgets(line, sizeof line, in) != nullptr) {
            TTransferTally part;
            int used = 0;
            std::sscanf(line, "%u %u %u %u %u %u %u%n", &part.runs, &part.completed, &part.closed,
                        &part.wrong, &part.silent, &part.unanswered, &part.tcpLeftOpen, &used);
            total.runs += part.runs;
            total.completed += part.completed;
            total.closed += part.closed;
            total.wrong += part.wrong;
            total.silent += part.silent;
            total.unanswered += part.unanswered;
            total.tcpLeftOpen += part.tcpLeftOpen;
            std::string rest = line + used;
            if (!rest.empty() && rest.back() == '\n') {
                rest.pop_back();
            }
            bad += rest;
        }
        std::fclose(in);
        int status = 0;
        waitpid(pid, &status, 0);
    }
    std::printf("%s\n%s%s%s\n", TTransferTally::Header().c_str(), total.Row().c_str(),
                bad.empty() ? "" : "  seeds", bad.c_str());
    return 0;
}
