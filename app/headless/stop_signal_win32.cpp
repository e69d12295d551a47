#include "app/headless/stop_signal.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>

namespace {
std::mutex lock;
std::condition_variable arrived;
bool requested = false;

BOOL WINAPI consoleControl(DWORD event) {
    {
        std::lock_guard<std::mutex> guard(lock);
        requested = true;
    }
    arrived.notify_all();
    // For a closing console the process ends when this handler returns:
    // give the main thread the time to stop the worker first.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        Sleep(5000);
    return TRUE;
}
} // namespace

void prepareStopSignal() {
    SetConsoleCtrlHandler(consoleControl, TRUE);
}

void waitForStopSignal() {
    std::unique_lock<std::mutex> guard(lock);
    arrived.wait(guard, [] { return requested; });
}
