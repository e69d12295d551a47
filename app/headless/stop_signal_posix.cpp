#include "app/headless/stop_signal.h"

#include <csignal>

#include <pthread.h>

namespace {
sigset_t stopSignals;
} // namespace

void prepareStopSignal() {
    // A shell starts background jobs with SIGINT ignored, and an ignored
    // signal is dropped even while blocked: take both back, since here they
    // only ever end up in sigwait.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    // Blocked here, so blocked in every thread started later: the signal
    // stays pending until the main thread takes it in waitForStopSignal.
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}

void waitForStopSignal() {
    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
}
