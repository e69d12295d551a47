// What the overlay's drawing costs: a spot of radius 120 px (the default)
// moved across a 1920x1080 area frame by frame, as a hand sweeps it (about
// 1000 px a second at 60 frames a second), through the drawing core alone.
// Prints, per style, the CPU time per frame, the share of the area repainted
// per frame and the share of one core that 60 such frames a second take; and
// the first frame, which paints the whole area.

#include <getopt.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "output/overlay/overlay_paint.h"

namespace {

const char usage[] = "usage: overlay_paint_bench [--frames N] [--radius PX]\n"
                     "Moves the overlay's spot over 1920x1080 for N frames (default 1200) and\n"
                     "prints the drawing core's CPU time and repainted area per frame.\n";

double cpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Result {
    double firstMs, meanMs, worstMs, meanShare, worstShare;
};

Result run(OverlayStyle style, int frames, int radius) {
    const OverlayRect area{0, 0, 1920, 1080};
    OverlayImage picture{area, std::vector<uint32_t>(1920 * 1080, 0xff808080u)};
    OverlayCanvas canvas;
    resetCanvas(canvas, area);
    std::vector<OverlayTrailPoint> trail;
    Result r{};
    const double whole = 1920.0 * 1080.0;
    double cpuTotal = 0, shareTotal = 0;
    for (int i = 0; i <= frames; ++i) {
        // A slow figure of eight over the screen: 16 px a frame at its fastest.
        double t = i / 60.0;
        OverlayScene scene;
        scene.look.style = style;
        scene.look.radius = radius;
        scene.x = static_cast<int32_t>(960 + 800 * std::sin(t * 1.2));
        scene.y = static_cast<int32_t>(540 + 400 * std::sin(t * 2.4));
        scene.nowMs = static_cast<int64_t>(t * 1000);
        std::erase_if(trail, [&](const OverlayTrailPoint& p) {
            return scene.nowMs - p.ms >= scene.look.trailMs;
        });
        scene.trail = trail.data();
        scene.trailCount = trail.size();
        scene.picture = &picture;
        double started = cpuNow();
        std::vector<OverlayRect> changed = paintOverlay(canvas, scene);
        double ms = (cpuNow() - started) * 1000;
        double pixels = 0;
        for (const OverlayRect& c : changed)
            pixels += static_cast<double>(c.width) * c.height;
        if (style == OverlayStyle::laser) trail.push_back({scene.x, scene.y, scene.nowMs});
        if (i == 0) {
            r.firstMs = ms;
            continue;
        }
        cpuTotal += ms;
        shareTotal += pixels / whole;
        r.worstMs = std::max(r.worstMs, ms);
        r.worstShare = std::max(r.worstShare, pixels / whole);
    }
    r.meanMs = cpuTotal / frames;
    r.meanShare = shareTotal / frames;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    int frames = 1200, radius = 120;
    const option options[] = {{"frames", required_argument, nullptr, 'f'},
                              {"radius", required_argument, nullptr, 'r'},
                              {"help", no_argument, nullptr, 'h'},
                              {nullptr, 0, nullptr, 0}};
    for (int c; (c = getopt_long(argc, argv, "", options, nullptr)) != -1;) {
        if (c == 'f')
            frames = std::atoi(optarg);
        else if (c == 'r')
            radius = std::atoi(optarg);
        else {
            std::fputs(usage, c == 'h' ? stdout : stderr);
            return c == 'h' ? 0 : 2;
        }
    }
    if (frames < 1 || radius < 1) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::printf("%d frames, radius %d px, 1920x1080, up to 16 px a frame\n", frames, radius);
    std::printf("%-10s %12s %12s %10s %10s %12s %10s\n", "style", "CPU ms/frame", "worst ms",
                "area %", "worst %", "core % @60", "first ms");
    const struct {
        const char* name;
        OverlayStyle style;
    } styles[] = {{"spotlight", OverlayStyle::spotlight},
                  {"laser", OverlayStyle::laser},
                  {"magnifier", OverlayStyle::magnifier}};
    for (const auto& s : styles) {
        Result r = run(s.style, frames, radius);
        std::printf("%-10s %12.3f %12.3f %10.2f %10.2f %12.2f %10.3f\n", s.name, r.meanMs,
                    r.worstMs, r.meanShare * 100, r.worstShare * 100, r.meanMs * 60 / 10,
                    r.firstMs);
    }
    return 0;
}
