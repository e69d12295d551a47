#pragma once
// A pointer backend for tests: records every call instead of moving anything.
// Thread-safe, so a test can read what a running worker sent. Calls are
// recorded whether or not openPointer was called.

#include <cstdint>

struct PointerCall {
    enum Kind { place, event, key, move } kind;
    int32_t x, y;      // place; move: by how much; key: the KeyId and 1 down, 0 up
    uint32_t flags;    // event
    int32_t wheelData; // event
};

constexpr int recordedPointerCapacity = 4096;

void clearPointerCalls();
// Copies up to max calls, oldest first; returns how many there were in all.
int copyPointerCalls(PointerCall* out, int max);
int pointerCallCount();
// What readScreenSize reports, and whether openPointer succeeds.
void setRecordedScreen(int32_t width, int32_t height, bool available);
// The monitors readMonitors reports (nullptr: none are known, as before); the
// recorded places include the origin setCursorOrigin gave.
struct MonitorList;
void setRecordedMonitors(const MonitorList* monitors);
// A key that sendKey refuses (KeyId::none: none), as a platform without it would.
void setRefusedKey(int key);
