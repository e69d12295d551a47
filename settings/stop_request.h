#pragma once
// The request that ends the measurement worker, and the pauses it cuts short.
//
// The window thread (Run, Exit, confirming the settings) asks; the worker
// reads the flag at its stop tests. Waiting through requestStop() instead of
// sleeping lets a stop end a three-second retry pause at once.

#include <atomic>
#include <chrono>

extern std::atomic<bool> stopRequested;

// Sets stopRequested and wakes a worker that waits in one of the pauses
// below, so that it reaches its next stop test at once. A flag written
// directly is still seen, only later.
void requestStop();

// Waits for length, or less when a stop is requested meanwhile. The caller
// still decides at its next stop test, exactly as after a full pause.
void pauseUnlessStopped(std::chrono::milliseconds length);

// Waits until a stop is requested; a flag written without requestStop() is
// noticed within a few tens of milliseconds.
void waitUntilStopped();
