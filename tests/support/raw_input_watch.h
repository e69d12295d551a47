#pragma once
// Watches a test X server for the input that reaches it, however it was
// injected: XInput2 raw events on the root window are seen without any
// window having the focus, and XTest's events are among them.

#include <X11/Xlib.h>

#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <vector>

struct RawInputEvent {
    int type;           // XI_RawKeyPress, XI_RawButtonRelease, ...
    int detail;         // the key code or the button number
    unsigned long time; // the server's milliseconds
    // Where the pointer was: at the event for button events, else when the
    // watcher saw it.
    int x, y;
};

// Selects events of the given types (XI_RawKeyPress, XI_ButtonPress, ...)
// from every master device; false when the server has no XInput 2.2.
bool selectRawInput(Display* display, std::initializer_list<int> types);

// The selected events, in order, until count are seen or the bound passes.
std::vector<RawInputEvent> watchRawInput(Display* display, size_t count,
                                         std::chrono::seconds bound);
