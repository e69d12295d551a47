#pragma once
// What the air mouse did for one device line: where it put the cursor and
// which button and wheel events it sent, as text.

#include <cstddef>
#include <cstdint>

struct PointerActions {
    bool placed = false; // false: the cursor stayed where it was
    int32_t x = 0;
    int32_t y = 0;
    bool moved = false; // relative mode: the cursor moved by (dx, dy)
    int32_t dx = 0;
    int32_t dy = 0;
    char events[512] = ""; // "left down, wheel +4", or empty
    size_t eventsLength = 0;
};

extern PointerActions pointerActions;

void clearPointerActions();
