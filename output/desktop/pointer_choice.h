#pragma once
// Which pointer backend Linux uses: XTest on an X display, or a virtual input
// device made through the kernel's uinput (Wayland, X11 and the console).
// A pure function of what the caller found out, so every case can be tested
// without a display or a /dev/uinput.

#include <cstdint>

#include "settings/settings.h"

enum class PointerKind { none, x11, uinput }; // what is used

struct PointerProbe {
    PointerBackend preference; // the "pointer" setting
    bool waylandSession;       // WAYLAND_DISPLAY is set and not empty
    bool xDisplayOpens;        // an X display with XTest was reached
    bool uinputOpens;          // /dev/uinput opened for writing
    int uinputError;           // errno of that open when it failed
};

constexpr int pointerReasonSize = 400;

struct PointerChoice {
    PointerKind backend;
    // For people: the backend and why, or why none, with the remedy.
    char reason[pointerReasonSize];
};

PointerChoice choosePointerBackend(const PointerProbe& probe);

// Why /dev/uinput did not open and what to do about it, for errno error.
void describeUinputError(int error, char* out, int size);
