// The overlay's drawing core: what each style paints where, and that a frame
// repaints exactly what changed and nothing it reports is left stale.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "output/overlay/overlay_paint.h"

namespace {

const OverlayRect screen{0, 0, 640, 480};
const OverlayRect leftOfPrimary{-1280, 56, 1280, 1024};

OverlayLook lookOf(OverlayStyle style, int32_t dim = 60, bool blend = true) {
    OverlayLook look;
    look.style = style;
    look.radius = 40;
    look.dimPercent = dim;
    look.blend = blend;
    return look;
}

uint32_t pixelAt(const OverlayCanvas& canvas, int32_t x, int32_t y) {
    const OverlayRect& a = canvas.image.area;
    return canvas.image.pixels[static_cast<size_t>(y - a.y) * a.width + (x - a.x)];
}

uint32_t alphaOf(uint32_t p) {
    return p >> 24;
}

// A picture whose every pixel names where it is.
OverlayImage gradient(const OverlayRect& area) {
    OverlayImage image{area, {}};
    for (int32_t y = 0; y < area.height; ++y)
        for (int32_t x = 0; x < area.width; ++x)
            image.pixels.push_back(0xff000000u | static_cast<uint32_t>(x << 8 | y));
    return image;
}

TEST(OverlayPaint, PaintsEachStyle) {
    const OverlayImage picture = gradient(screen);
    const std::vector<OverlayTrailPoint> trail = {{100, 300, 600}, {200, 300, 850}};
    struct Probe {
        int32_t x, y;
        uint32_t pixel;
    };
    struct Case {
        const char* what;
        OverlayRect area;
        OverlayLook look;
        int32_t x, y;
        bool withTrail;
        std::vector<Probe> probes;
    } cases[] = {
        // clang-format off
        {"spotlight: clear inside, dimmed far, the rim in colour", screen,
         lookOf(OverlayStyle::spotlight), 320, 240, false,
         {{320, 240, 0}, {320 + 38, 240, 0}, {0, 0, 0x99000000}, {639, 479, 0x99000000},
          {320 + 42, 240, 0xffff2020}, {320, 240 - 42, 0xffff2020}}},
        {"spotlight: no dimming", screen, lookOf(OverlayStyle::spotlight, 0), 320, 240, false,
         {{0, 0, 0}, {320, 240, 0}, {320 + 42, 240, 0xffff2020}}},
        {"spotlight: the darkest", screen, lookOf(OverlayStyle::spotlight, 95), 320, 240, false,
         {{0, 0, 0xf2000000}, {320, 240, 0}}},
        {"spotlight without blending: only the ring", screen,
         lookOf(OverlayStyle::spotlight, 60, false), 320, 240, false,
         {{0, 0, 0}, {320, 240, 0}, {320 + 42, 240, 0xffff2020}}},
        {"spotlight over a monitor edge at a negative origin", leftOfPrimary,
         lookOf(OverlayStyle::spotlight), 10, 300, false,
         {{-1, 300, 0}, {-1280, 56, 0x99000000}, {-1, 56, 0x99000000}, {-1, 1079, 0x99000000}}},
        {"spotlight pointing off this monitor: all dimmed", leftOfPrimary,
         lookOf(OverlayStyle::spotlight), 900, 300, false,
         {{-1, 300, 0x99000000}, {-1280, 1079, 0x99000000}}},
        {"spotlight cut by the top-left corner", screen, lookOf(OverlayStyle::spotlight), -20, -20,
         false, {{0, 0, 0}, {5, 5, 0}, {200, 200, 0x99000000}}},
        {"laser: the dot, nothing else", screen, lookOf(OverlayStyle::laser), 320, 240, false,
         {{320, 240, 0xffff2020}, {320 + 5, 240, 0xffff2020}, {320 + 9, 240, 0}, {0, 0, 0}}},
        // At 1000 ms the trail's first point is 400 ms old (gone), its second
        // 150 ms (half faded) and leads to where the dot is now.
        {"laser: the trail fades with age", screen, lookOf(OverlayStyle::laser), 300, 300, true,
         {{150, 300, 0}, {250, 300, 0x80801010}, {300, 300, 0xffff2020}}},
        {"magnifier: the picture enlarged inside, untouched outside", screen,
         lookOf(OverlayStyle::magnifier), 320, 240, false,
         {{320, 240, 0xff000000u | (320 << 8 | 240)},
          {320 + 20, 240 - 10, 0xff000000u | (330 << 8 | 235)},
          {320 - 21, 240, 0xff000000u | (309 << 8 | 240)}, {0, 0, 0},
          {320 + 42, 240, 0xffff2020}}},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OverlayCanvas canvas;
        resetCanvas(canvas, c.area);
        OverlayScene scene;
        scene.look = c.look;
        scene.look.trailMs = 300;
        scene.x = c.x;
        scene.y = c.y;
        scene.nowMs = 1000;
        if (c.withTrail) {
            scene.trail = trail.data();
            scene.trailCount = trail.size();
        }
        scene.picture = &picture;
        std::vector<OverlayRect> changed = paintOverlay(canvas, scene);
        ASSERT_EQ(changed.size(), 1u);
        EXPECT_EQ(changed[0].width, c.area.width);
        for (const Probe& p : c.probes) {
            uint32_t got = pixelAt(canvas, p.x, p.y);
            char text[64];
            std::snprintf(text, sizeof text, "at %d,%d: %08x", p.x, p.y, got);
            SCOPED_TRACE(text);
            if (p.pixel == 0x80801010) { // half faded: about half of the colour
                EXPECT_NEAR(alphaOf(got), 0x80, 8);
                EXPECT_NEAR(static_cast<int>(got >> 16 & 0xff), 0x80, 8);
            } else {
                EXPECT_EQ(got, p.pixel);
            }
        }
        // Premultiplied: no channel above its alpha.
        for (uint32_t p : canvas.image.pixels)
            for (int shift = 0; shift < 24; shift += 8)
                ASSERT_LE((p >> shift) & 0xff, alphaOf(p));
    }
}

bool inside(const std::vector<OverlayRect>& rects, int32_t x, int32_t y) {
    for (const OverlayRect& r : rects)
        if (x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height) return true;
    return false;
}

// A run of frames: each time the canvas holds exactly what a fresh paint of
// the scene gives, and every pixel that changed lies in a reported rectangle.
TEST(OverlayPaint, RepaintsOnlyWhatChanged) {
    struct Frame {
        const char* what;
        OverlayStyle style;
        int32_t x, y;
        int64_t nowMs;
        size_t expectedRects; // 99: not checked
        int64_t maxChangedPixels;
    } frames[] = {
        // clang-format off
        {"the first frame: the whole area", OverlayStyle::spotlight, 200, 200, 0, 1, 640 * 480},
        {"still: nothing", OverlayStyle::spotlight, 200, 200, 16, 0, 0},
        {"a small move: one box over both", OverlayStyle::spotlight, 210, 204, 32, 1, 101 * 95},
        {"a jump: the old spot and the new", OverlayStyle::spotlight, 500, 380, 48, 2, 2 * 91 * 91},
        {"half off the edge", OverlayStyle::spotlight, 630, 470, 64, 2, 2 * 91 * 91},
        {"the laser: the area again", OverlayStyle::laser, 100, 100, 80, 1, 640 * 480},
        {"the laser moves: its trail", OverlayStyle::laser, 160, 120, 96, 99, 100 * 60},
        {"the laser rests: the trail fades", OverlayStyle::laser, 160, 120, 250, 99, 100 * 60},
        {"the trail has gone", OverlayStyle::laser, 160, 120, 500, 99, 100 * 60},
        // clang-format on
    };
    OverlayCanvas canvas;
    resetCanvas(canvas, screen);
    std::vector<OverlayTrailPoint> trail;
    int32_t lastX = 0, lastY = 0;
    OverlayStyle lastStyle = OverlayStyle::spotlight;
    for (const Frame& f : frames) {
        SCOPED_TRACE(f.what);
        if (f.style != OverlayStyle::laser) trail.clear();
        if (f.style == OverlayStyle::laser && lastStyle == f.style &&
            (f.x != lastX || f.y != lastY))
            trail.push_back({lastX, lastY, f.nowMs - 16});
        std::erase_if(trail, [&](const OverlayTrailPoint& p) { return f.nowMs - p.ms >= 300; });
        lastX = f.x;
        lastStyle = f.style;
        lastY = f.y;
        OverlayScene scene;
        scene.look = lookOf(f.style);
        scene.x = f.x;
        scene.y = f.y;
        scene.nowMs = f.nowMs;
        scene.trail = trail.data();
        scene.trailCount = f.style == OverlayStyle::laser ? trail.size() : 0;

        std::vector<uint32_t> before = canvas.image.pixels;
        std::vector<OverlayRect> changed = paintOverlay(canvas, scene);
        OverlayCanvas fresh;
        resetCanvas(fresh, screen);
        paintOverlay(fresh, scene);
        ASSERT_EQ(canvas.image.pixels, fresh.image.pixels);

        if (f.expectedRects != 99) {
            EXPECT_EQ(changed.size(), f.expectedRects);
        }
        int64_t changedPixels = 0;
        for (size_t i = 0; i < changed.size(); ++i) {
            const OverlayRect& r = changed[i];
            changedPixels += int64_t{r.width} * r.height;
            EXPECT_TRUE(r.x >= 0 && r.y >= 0 && r.x + r.width <= 640 && r.y + r.height <= 480);
            for (size_t j = i + 1; j < changed.size(); ++j)
                EXPECT_FALSE(
                    r.x < changed[j].x + changed[j].width && changed[j].x < r.x + r.width &&
                    r.y < changed[j].y + changed[j].height && changed[j].y < r.y + r.height)
                    << "rectangles overlap";
        }
        EXPECT_LE(changedPixels, f.maxChangedPixels);
        for (int32_t y = 0; y < screen.height; ++y)
            for (int32_t x = 0; x < screen.width; ++x)
                if (before[static_cast<size_t>(y) * 640 + x] !=
                    canvas.image.pixels[static_cast<size_t>(y) * 640 + x]) {
                    ASSERT_TRUE(inside(changed, x, y)) << x << "," << y << " changed unreported";
                }
    }
}

} // namespace
