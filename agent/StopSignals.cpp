#include "agent/StopSignals.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void RequestStop(int signal) {
    stopSignal = signal;
}

}  // namespace

void CatchStopSignals() {
    // Without SA_RESTART, so that a sleep of the loop ends at the signal.
    struct sigaction stop {};
    stop.sa_handler = RequestStop;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
}

int StopSignal() {
    return stopSignal;
}

void EndByStopSignal() {
    const int signal = stopSignal;
    if (signal == 0) {
        return;
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
