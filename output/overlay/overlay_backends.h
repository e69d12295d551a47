#pragma once
// Each platform file's own windows; openOverlayWindows picks among them
// where a platform has more than one kind of desktop.

#include <memory>

#include "output/overlay/overlay_windows.h"

// X11: override-redirect windows (overlay_x11.cpp).
std::unique_ptr<OverlayWindows> openX11OverlayWindows();
// Wayland: layer-shell surfaces (overlay_wayland.cpp). Null when no
// compositor answers on WAYLAND_DISPLAY; one that answers without a layer
// shell gives windows that cannot draw (and says so).
std::unique_ptr<OverlayWindows> openWaylandOverlayWindows();
