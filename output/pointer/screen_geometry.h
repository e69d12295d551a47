#pragma once
// The screen a uinput pointer covers. Wayland compositors, like X servers
// with several monitors, spread an absolute pointing device over the whole
// desktop, so the air mouse's screen is the box around every output.

#include <cstdint>

// One output as the compositor announces it (wl_output): its place in the
// desktop in logical pixels, its current mode in the panel's own pixels, the
// scale between the two and its rotation (wl_output's transform code).
struct OutputGeometry {
    int32_t x, y;
    int32_t modeWidth, modeHeight;
    int32_t scale;
    int32_t transform;
};

constexpr int maxOutputs = 16;

// The size of the box around all outputs, in logical pixels; false when no
// output has a size.
bool desktopExtent(const OutputGeometry* outputs, int count, int32_t* width, int32_t* height);

// Asks the Wayland compositor of WAYLAND_DISPLAY for its outputs. Returns how
// many were read (at most max), or -1 when no compositor can be reached.
int readWaylandOutputs(OutputGeometry* outputs, int max);
