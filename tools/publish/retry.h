#pragma once
// Waiting for a peer that comes and goes: a bounded back-off, and a report on
// standard error that is said once per change of state, not once per attempt.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

struct Backoff {
    int nextMs = 250;

    int next() {
        const int wait = nextMs;
        nextMs = std::min(nextMs * 2, 5000);
        return wait;
    }
    void reset() { nextMs = 250; }
};

struct StateReport {
    std::string last;

    void say(const std::string& text) {
        if (text == last) return;
        last = text;
        std::fprintf(stderr, "tolvane-publish: %s\n", text.c_str());
    }
};

// Sleeps for ms, in short steps so that a stop is seen soon.
template <typename Stop> void pauseUnless(int ms, Stop stop) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stop() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - std::chrono::steady_clock::now(), std::chrono::milliseconds(50)));
}
