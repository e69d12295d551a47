#pragma once
// Each platform file's own windows; openOverlayWindows picks among them
// where a platform has more than one kind of desktop.

#include <memory>

#include "output/overlay/overlay_windows.h"

// X11: override-redirect windows (overlay_x11.cpp).
std::unique_ptr<OverlayWindows> openX11OverlayWindows();
