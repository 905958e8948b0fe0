#include "platform/linux/StopSignals.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void RequestStop(int signal) {
    stopSignal = signal;
}

}  // namespace

void CatchStopSignals() {
    struct sigaction stop {};
    stop.sa_handler = RequestStop;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int StopSignal() {
    return stopSignal;
}

int StopStatus() {
    return stopSignal == 0 ? 0 : 128 + stopSignal;
}

void EndByStopSignal() {
    const int signal = stopSignal;
    if (signal == 0) {
        return;
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
