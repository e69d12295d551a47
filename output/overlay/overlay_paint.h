#pragma once
// The overlay's pictures, free of any platform: a spotlight, a laser dot with
// a fading trail or a magnifier, painted into one premultiplied ARGB buffer
// per area. Each frame repaints only what differs from the frame before (the
// old and the new marks), and says which rectangles that was, so that a
// moving spot never costs a whole screen.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "output/overlay/overlay_windows.h"
#include "settings/settings.h" // OverlayStyle

struct OverlayLook {
    OverlayStyle style = OverlayStyle::spotlight;
    int32_t radius = 120;      // the spotlight's and the magnifier's circle, pixels
    int32_t dimPercent = 60;   // darkening outside the spotlight
    uint32_t color = 0xff2020; // 0xRRGGBB: the laser's dot, the rims
    int32_t trailMs = 300;     // how long the laser's trail takes to fade
    float zoom = 2.0f;         // the magnifier's factor
    bool blend = true;         // false: opaque marks only (no compositor), no dimming
};

// One past position of the laser, with the time it was there.
struct OverlayTrailPoint {
    int32_t x = 0, y = 0;
    int64_t ms = 0;
};

struct OverlayScene {
    OverlayLook look;
    int32_t x = 0, y = 0; // where the device points, desktop pixels
    int64_t nowMs = 0;
    const OverlayTrailPoint* trail = nullptr; // oldest first; the laser's
    size_t trailCount = 0;
    // The screen under the magnifier in desktop pixels (null: none read);
    // pictureVersion changes whenever its pixels do.
    const OverlayImage* picture = nullptr;
    uint32_t pictureVersion = 0;
};

// One area's buffer and what its last frame drew beyond the plain base.
struct OverlayCanvas {
    OverlayImage image;
    std::vector<OverlayRect> marks;
    uint32_t base = 0;
    bool painted = false;
    OverlayScene last; // the last frame's scene, to skip a frame that changes nothing
};

// The laser dot's radius and the rim's width for a look, in pixels.
int32_t laserDotRadius(const OverlayLook& look);
constexpr int32_t overlayRimWidth = 4;

// What a fully dimmed pixel is for `percent` (premultiplied black).
uint32_t dimPixel(int32_t percent);

// Makes the canvas cover `area` and forget what it drew: the next frame
// paints it whole.
void resetCanvas(OverlayCanvas& canvas, const OverlayRect& area);

// Paints the scene into the canvas; returns the rectangles that changed
// (desktop pixels, inside the area, not overlapping), empty when nothing did.
std::vector<OverlayRect> paintOverlay(OverlayCanvas& canvas, const OverlayScene& scene);

// Merges rectangles until none overlap, also joining two whose bounding box
// is no larger than both together. Empty ones are dropped.
void mergeRects(std::vector<OverlayRect>& rects);
