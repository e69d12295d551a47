// Which windows show the overlay on Linux.
#include "output/overlay/overlay_backends.h"

std::unique_ptr<OverlayWindows> openOverlayWindows() {
    // Wayland (overlay_wayland.cpp) chooses its layer-shell surface here.
    return openX11OverlayWindows();
}
