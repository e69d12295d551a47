#pragma once
#include <cstdint>
#include <memory>
#include <vector>

// A rectangle in desktop pixels (monitor origins may be negative).
struct OverlayRect {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// One area's picture: premultiplied ARGB (0xAARRGGBB), `width` pixels a row,
// top-left pixel at `area.x, area.y` of the desktop.
struct OverlayImage {
    OverlayRect area;
    std::vector<uint32_t> pixels;
};

// What the desktop lets the overlay do.
struct OverlayAbilities {
    bool canDraw = false;  // false: nothing can be shown here (a note said why)
    bool canBlend = false; // false: only opaque, shaped pixels (no dimming)
    int framesPerSecond = 60;
};

// The windows that show the overlay, one per area (a monitor, or the screen).
class OverlayWindows {
  public:
    virtual ~OverlayWindows() = default;
    // The areas, in desktop pixels; empty when nothing can be drawn.
    virtual std::vector<OverlayRect> areas() = 0;
    // Read afresh at each show: a compositor may come or go.
    virtual OverlayAbilities abilities() = 0;
    // Shows areas()[index] with `image`, repainting only `changed` (desktop
    // pixels, inside the image). Without blending, pixels with alpha < 128
    // are left out of the window's shape and the rest shown opaque.
    // Input always goes through to what is below.
    virtual void show(size_t index, const OverlayImage& image,
                      const std::vector<OverlayRect>& changed) = 0;
    // Takes every window away.
    virtual void hide() = 0;
    // The screen's pixels under `area` (for the magnifier), without the
    // overlay's own; false when they cannot be read.
    virtual bool grab(const OverlayRect& area, OverlayImage* out) = 0;
};

// The platform's windows. Notes for the user go through sayNote
// (protocol/output_note.h, source "overlay"), each at most once.
// Never null: where nothing can be drawn, abilities().canDraw is false.
std::unique_ptr<OverlayWindows> openOverlayWindows();
