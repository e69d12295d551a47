#pragma once
// The two Linux backends beneath openOverlayWindows (overlay_linux.cpp).

#include <memory>

#include "output/overlay/overlay_windows.h"

// Null when no Wayland compositor answers on WAYLAND_DISPLAY. One that
// answers without a layer shell gives windows that cannot draw (and says so).
std::unique_ptr<OverlayWindows> openWaylandOverlayWindows();

// Null when no X display can be reached.
std::unique_ptr<OverlayWindows> openX11OverlayWindows();
