#pragma once
// Which screen the air mouse spans (the mouseScreen setting): the primary
// monitor, the box around every monitor, or one monitor by its number. Pure,
// over the monitors a platform lists, so that every layout can be tested.

#include <cstdint>

#include "settings/settings.h"
#include "text/number_text.h"

struct ScreenRect {
    int32_t x, y, width, height;
};

constexpr int maxMonitors = mouseScreenMax;

// The monitors in the system's order (monitor N is monitor[N - 1]), the
// primary one's index (-1: the system names none) and the whole desktop the
// cursor can reach (width 0: the box around the monitors), all in the
// coordinates the pointer places the cursor in.
struct MonitorList {
    ScreenRect monitor[maxMonitors];
    int count;
    int primary;
    ScreenRect desktop;
    int unlisted = 0; // the system's monitors beyond maxMonitors: counted, not listed
};

struct ScreenPick {
    ScreenRect rect;
    int number;   // the monitor taken (1..count), 0: the desktop
    bool missing; // the monitor asked for is not there: the primary one instead
};

// which: mouseScreenPrimary, mouseScreenAll or a monitor's number. Without a
// primary monitor, "primary" is the whole desktop (what X and Wayland spread a
// pointer over).
ScreenPick chooseScreen(const MonitorList& monitors, int32_t which);

// "1 1920x1080 at 0,0 (primary), 2 1280x1024 at -1280,0", for the notes.
void appendMonitors(TextBuilder& out, const MonitorList& monitors);
void appendScreenRect(TextBuilder& out, const ScreenRect& rect);
