// The overlay's Wayland windows on real compositors: sway's headless
// backend (software rendering) with grim for the screenshot, and weston,
// which has no layer shell. Each is skipped, with the reason, where it is not
// installed. Sway refuses to run as root: then it runs as the user nobody.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "output/overlay/overlay_backends.h"
#include "protocol/output_note.h"
#include "tests/support/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> notes;
void keepNote(const char* source, NoteLevel, const char* text) {
    notes.push_back(std::string(source) + ": " + text);
}

// A runtime folder of its own, short enough for a socket's path.
std::string runtimeFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tolvane-ov-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : "";
}

struct Compositor {
    std::string folder = runtimeFolder();
    std::string socket = "tolvane-ov-" + std::to_string(getpid());
    Child child;

    bool start(std::vector<std::string> argv, const ChildSetup& setup = {}) {
        setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
        if (!child.start(argv, folder, folder + "/compositor.err", setup)) return false;
        // Neither says when it is ready: wait for the socket, bounded. Sway
        // names its own (wayland-1 in a folder of its own).
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!socketMade()) {
            if (!child.running() || Clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        setenv("WAYLAND_DISPLAY", socket.c_str(), 1);
        return true;
    }
    bool socketMade() {
        if (access((folder + "/" + socket).c_str(), F_OK) == 0) return true;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("wayland-", 0) == 0 && name.find('.') == std::string::npos &&
                entry.is_socket()) {
                socket = name;
                return true;
            }
        }
        return false;
    }
    ~Compositor() {
        unsetenv("WAYLAND_DISPLAY");
        // A term lets sway end the background program it started.
        child.signal(SIGTERM);
        child.waitExit();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

struct Shot {
    int width = 0, height = 0;
    std::string rgb;
    // One channel's value (red, green and blue are equal on grey) at x, y.
    int grey(int x, int y) const {
        return static_cast<unsigned char>(rgb[static_cast<size_t>(y * width + x) * 3]);
    }
};

// The screen as grim sees it (PPM: "P6 W H 255" and the RGB bytes).
bool screenshot(const std::string& folder, Shot* shot) {
    const std::string path = folder + "/shot.ppm";
    Child grim;
    if (!grim.start({"/usr/bin/grim", "-t", "ppm", path}, folder, folder + "/grim.err") ||
        grim.waitExit() != 0)
        return false;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int top = 0;
    in >> magic >> shot->width >> shot->height >> top;
    in.get();
    if (magic != "P6" || shot->width <= 0 || shot->height <= 0) return false;
    shot->rgb.assign(static_cast<size_t>(shot->width * shot->height) * 3, '\0');
    return static_cast<bool>(
        in.read(shot->rgb.data(), static_cast<std::streamsize>(shot->rgb.size())));
}

// Takes screenshots until `wanted` holds of one (the compositor paints in its
// own time), for at most 10 s.
template <typename Test> bool screenComes(const std::string& folder, Test wanted, Shot* shot) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    do {
        if (screenshot(folder, shot) && wanted(*shot)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (Clock::now() < deadline);
    return false;
}

constexpr int width = 640, height = 480, radius = 40;
constexpr uint32_t dimmed = 0x99000000u; // 60 % black, premultiplied

// A spotlight at cx, cy: clear inside the circle, dimmed outside.
void paintSpot(OverlayImage* image, int cx, int cy) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int dx = x - cx, dy = y - cy;
            image->pixels[static_cast<size_t>(y * width + x)] =
                dx * dx + dy * dy <= radius * radius ? 0u : dimmed;
        }
}

OverlayRect spotBox(int cx, int cy) {
    return {cx - radius, cy - radius, 2 * radius + 1, 2 * radius + 1};
}

TEST(WaylandOverlay, SwayShowsTheSpotAndDimsTheRest) {
    if (access("/usr/bin/sway", X_OK) != 0 || access("/usr/bin/grim", X_OK) != 0)
        GTEST_SKIP() << "sway or grim is not installed (apt-get install sway grim)";
    Compositor sway;
    ASSERT_FALSE(sway.folder.empty());
    ChildSetup setup;
    if (geteuid() == 0) {
        setup.user = 65534; // nobody: sway will not run as root
        setup.group = 65534;
        ASSERT_EQ(chown(sway.folder.c_str(), setup.user, setup.group), 0);
    }
    // One white output; the headless backend renders with pixman, no GPU.
    writeFile(sway.folder + "/config", "output * resolution 640x480 position 0 0 "
                                       "bg #ffffff solid_color\n");
    // Sway reads and writes under HOME: its own folder, until the test ends.
    struct HomeKept {
        std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
        ~HomeKept() { home.empty() ? unsetenv("HOME") : setenv("HOME", home.c_str(), 1); }
    } kept;
    setenv("HOME", sway.folder.c_str(), 1);
    setenv("WLR_BACKENDS", "headless", 1);
    setenv("WLR_RENDERER", "pixman", 1);
    setenv("WLR_LIBINPUT_NO_DEVICES", "1", 1);
    ASSERT_TRUE(sway.start({"/usr/bin/sway", "-c", sway.folder + "/config"}, setup))
        << sway.child.errors();
    Shot shot;
    ASSERT_TRUE(screenComes(
        sway.folder, [](const Shot& s) { return s.width == width && s.grey(600, 400) == 255; },
        &shot))
        << "the desktop never turned white\n"
        << sway.child.errors();

    notes.clear();
    setNoteListener(keepNote);
    auto windows = openWaylandOverlayWindows();
    ASSERT_TRUE(windows);
    const OverlayAbilities can = windows->abilities();
    EXPECT_TRUE(can.canDraw);
    EXPECT_TRUE(can.canBlend);
    const auto areas = windows->areas();
    ASSERT_EQ(areas.size(), 1u);
    EXPECT_EQ(areas[0].width, width);
    EXPECT_EQ(areas[0].height, height);

    OverlayImage image{areas[0], std::vector<uint32_t>(width * height)};
    // The spot travels, frame after frame without a pause, so that the
    // compositor still holds a buffer or two: each frame repaints only the
    // old and the new spot, and every buffer must catch up on what it missed.
    const int spots[][2] = {{200, 150}, {400, 300}, {100, 380}, {520, 100}, {300, 240}};
    for (size_t i = 0; i < std::size(spots); ++i) {
        const int x = spots[i][0], y = spots[i][1];
        paintSpot(&image, x, y);
        std::vector<OverlayRect> changed = {areas[0]};
        if (i > 0) changed = {spotBox(spots[i - 1][0], spots[i - 1][1]), spotBox(x, y)};
        windows->show(0, image, changed);
    }
    const auto [x, y] = spots[std::size(spots) - 1];
    const bool drawn = screenComes(
        sway.folder,
        [&](const Shot& s) {
            // 255 less 60 %: the far corner and every earlier spot darkened.
            for (size_t i = 0; i + 1 < std::size(spots); ++i)
                if (std::abs(s.grey(spots[i][0], spots[i][1]) - 102) > 2) return false;
            return std::abs(s.grey(630, 470) - 102) <= 2 && s.grey(x, y) == 255 &&
                   s.grey(x + radius - 4, y) == 255;
        },
        &shot);
    EXPECT_TRUE(drawn) << "the spot's centre " << shot.grey(x, y) << ", the far corner "
                       << shot.grey(630, 470) << ", the first spot "
                       << shot.grey(spots[0][0], spots[0][1]);
    EXPECT_FALSE(windows->grab(areas[0], &image)); // said once, below

    windows->hide();
    EXPECT_TRUE(screenComes(
        sway.folder, [](const Shot& s) { return s.grey(630, 470) == 255; }, &shot))
        << "the overlay stayed after hide";

    // The compositor goes away: nothing can be drawn, said once, and the
    // calls go on harmlessly.
    sway.child.signal(SIGTERM);
    EXPECT_EQ(sway.child.waitExit(), 0) << sway.child.errors();
    EXPECT_FALSE(windows->abilities().canDraw);
    windows->show(0, image, {areas[0]});
    windows->hide();
    EXPECT_TRUE(windows->areas().empty());
    windows.reset();
    setNoteListener(nullptr);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NE(notes[0].find("magnifier"), std::string::npos) << notes[0];
    EXPECT_NE(notes[1].find("closed its connection"), std::string::npos) << notes[1];
}

// Weston offers no layer shell; nobody answering is no Wayland at all.
TEST(WaylandOverlay, WithoutALayerShellNothingIsDrawn) {
    notes.clear();
    setNoteListener(keepNote);
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_FALSE(openWaylandOverlayWindows());
    setenv("WAYLAND_DISPLAY", "tolvane-no-such-compositor", 1);
    EXPECT_FALSE(openWaylandOverlayWindows());
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_TRUE(notes.empty());

    if (access("/usr/bin/weston", X_OK) != 0) GTEST_SKIP() << "weston is not installed";
    Compositor weston;
    ASSERT_TRUE(weston.start({"/usr/bin/weston", "--backend=headless-backend.so",
                              "--socket=" + weston.socket, "--no-config", "--idle-time=0"}))
        << weston.child.errors();
    auto windows = openWaylandOverlayWindows();
    ASSERT_TRUE(windows);
    EXPECT_FALSE(windows->abilities().canDraw);
    EXPECT_TRUE(windows->areas().empty());
    OverlayImage image{{0, 0, 4, 4}, std::vector<uint32_t>(16, dimmed)};
    windows->show(0, image, {image.area}); // nothing, and no fault
    windows->hide();
    setNoteListener(nullptr);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("cannot be drawn on this desktop"), std::string::npos) << notes[0];
}

} // namespace
