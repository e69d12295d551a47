#include "settings/stop_request.h"

#include <condition_variable>
#include <mutex>

std::atomic<bool> stopRequested{false};

namespace {

// How often a flag written without requestStop() is looked at.
constexpr auto idleSlice = std::chrono::milliseconds(50);

std::mutex pauseLock;
std::condition_variable pauseWake;

} // namespace

void requestStop() {
    {
        // Under the lock, so that a pause between its test and its wait
        // cannot miss the wake-up.
        std::lock_guard<std::mutex> guard(pauseLock);
        stopRequested = true;
    }
    pauseWake.notify_all();
}

void pauseUnlessStopped(std::chrono::milliseconds length) {
    std::unique_lock<std::mutex> lock(pauseLock);
    pauseWake.wait_for(lock, length, [] { return stopRequested.load(); });
}

void waitUntilStopped() {
    std::unique_lock<std::mutex> lock(pauseLock);
    while (!stopRequested.load())
        pauseWake.wait_for(lock, idleSlice, [] { return stopRequested.load(); });
}
