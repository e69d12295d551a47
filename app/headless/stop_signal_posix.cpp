#include "app/headless/stop_signal.h"

#include <csignal>

#include <pthread.h>

namespace {
sigset_t stopSignals;
constexpr int stopSignalNumbers[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
} // namespace

void prepareStopSignal() {
    // A shell starts background jobs with SIGINT ignored, and an ignored
    // signal is dropped even while blocked: take both back, since here they
    // only ever end up in sigwait.
    // SIGHUP (the terminal closed, an ssh session dropped) and SIGQUIT
    // (Ctrl+\) end the bridge too, and must release what it holds as
    // a stop does rather than kill it with a button down.
    for (int stop : stopSignalNumbers)
        std::signal(stop, SIG_DFL);
    // Blocked here, so blocked in every thread started later: the signal
    // stays pending until the main thread takes it in waitForStopSignal.
    sigemptyset(&stopSignals);
    for (int stop : stopSignalNumbers)
        sigaddset(&stopSignals, stop);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}

void waitForStopSignal() {
    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
}
