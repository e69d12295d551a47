// The overlay on Linux: the same rule as the pointer's. A Wayland session
// (WAYLAND_DISPLAY set and its compositor answering) gets layer surfaces,
// since X windows through Xwayland would cover only X11 programs; anything
// else gets the X display's windows.
#include "output/overlay/overlay_backends.h"
#include "protocol/output_note.h"

namespace {

// Nowhere to draw: every call does nothing.
class NoOverlayWindows final : public OverlayWindows {
  public:
    std::vector<OverlayRect> areas() override { return {}; }
    OverlayAbilities abilities() override { return {}; }
    void show(size_t, const OverlayImage&, const std::vector<OverlayRect>&) override {}
    void hide() override {}
    bool grab(const OverlayRect&, OverlayImage*) override { return false; }
};

} // namespace

std::unique_ptr<OverlayWindows> openOverlayWindows() {
    if (auto wayland = openWaylandOverlayWindows()) return wayland;
    if (auto x11 = openX11OverlayWindows()) return x11;
    sayNote("overlay", NoteLevel::problem,
            "the overlay cannot be drawn: neither a Wayland compositor (WAYLAND_DISPLAY) nor an "
            "X display (DISPLAY) can be reached");
    return std::make_unique<NoOverlayWindows>();
}
