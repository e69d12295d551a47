#include "output/overlay/overlay_output.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "settings/settings.h"

namespace {

using Clock = std::chrono::steady_clock;

// The position goes over as one word, so that the per-line step never takes
// a lock; the rest changes on a press, rarely, under the lock.
std::atomic<uint64_t> pointed{0};
std::atomic<bool> everPointed{false};

std::mutex stateLock;
std::condition_variable stateChanged;
bool held = false;
bool toggled = false;
bool stopping = false;
OverlayLook currentLook;
std::thread drawer;
std::atomic<OverlayWindowsOpener> opener{nullptr};

uint64_t packPoint(int32_t x, int32_t y) {
    return uint64_t{static_cast<uint32_t>(x)} << 32 | static_cast<uint32_t>(y);
}

void unpackPoint(uint64_t word, int32_t* x, int32_t* y) {
    *x = static_cast<int32_t>(static_cast<uint32_t>(word >> 32));
    *y = static_cast<int32_t>(static_cast<uint32_t>(word));
}

bool wanted() {
    return held || toggled;
}

int64_t msSince(Clock::time_point origin, Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t - origin).count();
}

bool contains(const OverlayRect& r, int32_t x, int32_t y) {
    return x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height;
}

// What one appearance of the overlay keeps: a canvas per area, the screen
// under the magnifier, the laser's past positions.
struct Showing {
    std::vector<OverlayRect> areas;
    std::vector<OverlayCanvas> canvases;
    std::vector<OverlayImage> pictures;
    uint32_t pictureVersion = 0;
    Clock::time_point lastGrab;
    std::vector<OverlayTrailPoint> trail;
    int32_t lastX = 0, lastY = 0;
    bool canBlend = true;
    bool active = false;
    bool fresh = false;
    int framesPerSecond = 60;
};

// The magnifier's picture: every area when the overlay appears, then only
// the circle's source around the point, at most 10 times a second.
void grabPictures(OverlayWindows& windows, Showing& s, const OverlayLook& look, int32_t x,
                  int32_t y, Clock::time_point now) {
    if (look.style != OverlayStyle::magnifier) return;
    if (s.pictures.empty()) {
        s.pictures.resize(s.areas.size());
        for (size_t i = 0; i < s.areas.size(); ++i)
            if (!windows.grab(s.areas[i], &s.pictures[i])) s.pictures[i] = {};
        s.lastGrab = now;
        ++s.pictureVersion;
        return;
    }
    if (now - s.lastGrab < std::chrono::milliseconds(100)) return;
    s.lastGrab = now;
    int32_t reach = static_cast<int32_t>(static_cast<float>(look.radius) / look.zoom) + 2;
    OverlayRect near{x - reach, y - reach, 2 * reach + 1, 2 * reach + 1};
    OverlayImage fresh;
    if (!windows.grab(near, &fresh) || fresh.pixels.size() < size_t(near.width) * near.height)
        return;
    for (OverlayImage& picture : s.pictures) {
        const OverlayRect& a = picture.area;
        if (picture.pixels.size() < size_t(a.width) * a.height) continue;
        for (int32_t py = std::max(near.y, a.y);
             py < std::min(near.y + near.height, a.y + a.height); ++py)
            for (int32_t px = std::max(near.x, a.x);
                 px < std::min(near.x + near.width, a.x + a.width); ++px)
                picture.pixels[size_t(py - a.y) * a.width + (px - a.x)] =
                    fresh.pixels[size_t(py - near.y) * near.width + (px - near.x)];
    }
    ++s.pictureVersion;
}

// Paints and shows one frame; false when nothing can be drawn here.
bool drawFrame(OverlayWindows& windows, Showing& s, const OverlayLook& look,
               Clock::time_point origin, Clock::time_point now) {
    OverlayAbilities abilities = windows.abilities();
    if (!abilities.canDraw) return false;
    if (!s.active) {
        s = {};
        s.areas = windows.areas();
        if (s.areas.empty()) return false;
        s.canvases.resize(s.areas.size());
        s.active = true;
        s.fresh = true;
        s.canBlend = !abilities.canBlend; // forces the first reset below
    }
    int32_t x = 0, y = 0;
    if (everPointed.load()) {
        unpackPoint(pointed.load(), &x, &y);
    } else {
        x = s.areas[0].x + s.areas[0].width / 2;
        y = s.areas[0].y + s.areas[0].height / 2;
    }
    if (s.fresh) { // the trail starts where the overlay appears
        s.lastX = x;
        s.lastY = y;
        s.fresh = false;
    }
    s.framesPerSecond = abilities.framesPerSecond;
    if (abilities.canBlend != s.canBlend) {
        // A compositor came or went: every area is painted anew for it.
        s.canBlend = abilities.canBlend;
        for (size_t i = 0; i < s.areas.size(); ++i)
            resetCanvas(s.canvases[i], s.areas[i]);
    }

    int64_t nowMs = msSince(origin, now);
    if (look.style == OverlayStyle::laser && look.trailMs > 0) {
        if (s.lastX != x || s.lastY != y) s.trail.push_back({s.lastX, s.lastY, nowMs});
        std::erase_if(s.trail,
                      [&](const OverlayTrailPoint& p) { return nowMs - p.ms >= look.trailMs; });
    }
    s.lastX = x;
    s.lastY = y;
    grabPictures(windows, s, look, x, y, now);

    OverlayScene scene;
    scene.look = look;
    scene.look.blend = abilities.canBlend;
    scene.x = x;
    scene.y = y;
    scene.nowMs = nowMs;
    scene.trail = s.trail.data();
    scene.trailCount = s.trail.size();
    scene.pictureVersion = s.pictureVersion;
    for (size_t i = 0; i < s.pictures.size(); ++i)
        if (contains(s.pictures[i].area, x, y)) scene.picture = &s.pictures[i];
    for (size_t i = 0; i < s.areas.size(); ++i) {
        std::vector<OverlayRect> changed = paintOverlay(s.canvases[i], scene);
        if (!changed.empty()) windows.show(i, s.canvases[i].image, changed);
    }
    return true;
}

void drawLoop(OverlayWindowsOpener open) {
    std::unique_ptr<OverlayWindows> windows = open();
    const Clock::time_point origin = Clock::now();
    Showing s;
    bool refused = false; // nothing could be drawn: wait for the next press
    std::unique_lock<std::mutex> lock(stateLock);
    while (!stopping) {
        if (!wanted() || refused) {
            if (s.active) {
                lock.unlock();
                windows->hide();
                lock.lock();
                s = {};
                continue;
            }
            if (refused) {
                // Nothing could be drawn: try again at the next press.
                stateChanged.wait(lock, [&] { return stopping || !wanted(); });
                refused = false;
            } else {
                stateChanged.wait(lock, [&] { return stopping || wanted(); });
            }
            continue;
        }
        OverlayLook look = currentLook;
        lock.unlock();
        Clock::time_point now = Clock::now();
        bool drawn = windows != nullptr && drawFrame(*windows, s, look, origin, now);
        int fps = s.framesPerSecond;
        if (fps <= 0 || fps > 1000) fps = 60;
        lock.lock();
        if (!drawn) {
            refused = true;
            continue;
        }
        // Paced at the display's rate; a press or a stop wakes it at once.
        stateChanged.wait_until(lock, now + std::chrono::microseconds(1000000 / fps),
                                [&] { return stopping || !wanted(); });
    }
    lock.unlock();
    if (windows != nullptr && s.active) windows->hide();
    windows.reset();
}

} // namespace

OverlayLook overlayLookFromSettings() {
    OverlayLook look;
    look.style = settings.overlay.load();
    look.radius = settings.overlayRadius.load();
    look.dimPercent = settings.overlayDim.load();
    look.color = settings.overlayColor.load();
    look.trailMs = settings.overlayTrail.load();
    look.zoom = settings.overlayZoom.load();
    return look;
}

void setOverlayWindowsOpener(OverlayWindowsOpener open) {
    opener.store(open);
}

void startOverlay(const OverlayLook& look) {
    std::lock_guard<std::mutex> guard(stateLock);
    currentLook = look;
    OverlayWindowsOpener open = opener.load();
    if (drawer.joinable() || open == nullptr) return;
    stopping = false;
    drawer = std::thread(drawLoop, open);
}

void stopOverlay() {
    std::thread ending;
    {
        std::lock_guard<std::mutex> guard(stateLock);
        held = false;
        toggled = false;
        stopping = true;
        ending = std::move(drawer);
    }
    stateChanged.notify_all();
    if (ending.joinable()) ending.join();
}

void overlayPoint(int32_t x, int32_t y) {
    pointed.store(packPoint(x, y));
    everPointed.store(true);
}

void overlayHold(bool down) {
    {
        std::lock_guard<std::mutex> guard(stateLock);
        if (held == down) return;
        held = down;
    }
    stateChanged.notify_all();
}

void overlayToggle() {
    {
        std::lock_guard<std::mutex> guard(stateLock);
        toggled = !toggled;
    }
    stateChanged.notify_all();
}

bool overlayShown() {
    std::lock_guard<std::mutex> guard(stateLock);
    return wanted();
}

void overlayForget() {
    {
        std::lock_guard<std::mutex> guard(stateLock);
        if (!wanted()) return;
        held = false;
        toggled = false;
    }
    stateChanged.notify_all();
}
