#include "common/StopSignal.h"

#include <csignal>

namespace {

// The signal that asked for the stop; 0 while none did.
volatile std::sig_atomic_t stopSignal = 0;

void RequestStop(int signal) {
    stopSignal = signal;
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
    return stopSignal != 0;
}

int StopStatus() {
    return stopSignal == 0 ? 0 : 128 + stopSignal;
}
