#pragma once
// The screen a uinput pointer covers. Wayland compositors, like X servers
// with several monitors, spread an absolute pointing device over the whole
// desktop, so the air mouse's screen is the box around every output.

#include <cstdint>

#include "output/desktop/screen_choice.h"

// One output as the compositor announces it (wl_output): its place in the
// desktop in logical pixels, its current mode in the panel's own pixels, the
// scale between the two and its rotation (wl_output's transform code).
struct OutputGeometry {
    int32_t x, y;
    int32_t modeWidth, modeHeight;
    int32_t scale;
    int32_t transform;
};

constexpr int maxOutputs = maxMonitors;

// The size of the box around all outputs, in logical pixels; false when no
// output has a size.
bool desktopExtent(const OutputGeometry* outputs, int count, int32_t* width, int32_t* height);

// The outputs as monitors inside that box, each from the box's top left
// corner, in the compositor's order; the box is the desktop. No output is
// primary: Wayland has no such thing. False as desktopExtent.
bool desktopMonitors(const OutputGeometry* outputs, int count, MonitorList* monitors);

// Asks the Wayland compositor of WAYLAND_DISPLAY for its outputs. Returns how
// many were read (at most max), or -1 when no compositor can be reached or it
// does not answer within a few seconds.
int readWaylandOutputs(OutputGeometry* outputs, int max);
