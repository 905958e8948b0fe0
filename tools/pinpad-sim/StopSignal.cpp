#include "pinpad-sim/StopSignal.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

}  // namespace

void CatchStopSignals() {
    struct sigaction stop {};
    stop.sa_handler = RequestStop;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() {
    return stopRequested != 0;
}
