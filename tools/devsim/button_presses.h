#pragma once
// Buttons pressed at given times (--press B@T+D[/EVERY]): what lets someone
// try the bridge's button actions on the simulator one press at a time.

#include <cstdint>

#include "device/device_line.h"

struct ButtonPress {
    int button = 0;     // 0..4, the line's button digit
    int64_t at = 0;     // microseconds after the first line
    int64_t length = 0; // held this long (more than 0)
    int64_t every = 0;  // and again this long after each start (0: once)
};

constexpr int buttonPressesMax = 32;

struct PressPlan {
    int count = 0;
    ButtonPress press[buttonPressesMax];
};

// "B@T+D" or "B@T+D/P", seconds with decimals. Null when good, else what
// is wrong with it.
const char* parseButtonPress(const char* text, ButtonPress* press);

// Sets to 1 the digit of every button a press holds at microseconds after
// the first line: from its start up to, not including, its end.
void applyPresses(const PressPlan& plan, int64_t microseconds, ButtonState* buttons);
