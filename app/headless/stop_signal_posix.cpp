#include "app/headless/stop_signal.h"

#include <csignal>

#include <pthread.h>

namespace {
sigset_t stopSignals;
} // namespace

void prepareStopSignal() {
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
