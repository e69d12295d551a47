// Recenter and clutch end to end: the simulator replays a scripted motion,
// the headless bridge moves the pointer of a private Xvfb, and the test reads
// it back with xdotool while an ordinary X client watches for button events.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/device_lines.h"
#include "tests/support/xvfb_server.h"

namespace {

constexpr int linesPerSecond = 100;

// A line turned `degrees` about the second axis, with these buttons, without
// the CR (the simulator adds it).
std::string turned(double degrees, const char* buttons) {
    const double half = degrees * 3.14159265358979323846 / 360.0;
    std::string line = deviceLine(0.0f, static_cast<float>(std::sin(half)), 0.0f,
                                  static_cast<float>(std::cos(half)), buttons);
    line.pop_back();
    return line;
}

// The script, one second a phase at 100 lines a second:
//   10 degrees aside, at rest                  -> (621, 540)
//   the middle button held 1.5 s               -> recentered: (960, 540)
//   released                                   -> stays at the centre
//   the right button (clutch) held, turning to 20 degrees, then still
//   released at 20 degrees                     -> still the centre
//   back to 15 degrees                         -> 5 degrees off the centre: (1127, 540)
std::string script() {
    std::string text = "# recenter and clutch\n";
    auto add = [&](double degrees, const char* buttons, int count) {
        for (int i = 0; i < count; ++i)
            text += turned(degrees, buttons) + "\n";
    };
    add(10, "00000", 100);
    add(10, "00001", 150);
    add(10, "00000", 100);
    for (int i = 0; i < 50; ++i)
        add(10 + i * 0.2, "01000", 1);
    add(20, "01000", 50);
    add(20, "00000", 100);
    add(15, "00000", 300);
    return text;
}

struct Location {
    int x = -1, y = -1;
};

// "x:621 y:540 screen:0 window:..." from xdotool.
Location xdotoolLocation() {
    Location at;
    FILE* p = popen("xdotool getmouselocation 2>/dev/null", "r");
    if (p == nullptr) return at;
    if (std::fscanf(p, "x:%d y:%d", &at.x, &at.y) != 2) at = Location{};
    pclose(p);
    return at;
}

bool near(const Location& at, int x, int y) {
    return std::abs(at.x - x) <= 1 && std::abs(at.y - y) <= 1;
}

// Waits (bounded) until xdotool reports the pointer near (x, y); every
// location seen on the way is kept.
bool waitFor(int x, int y, std::vector<Location>* seen) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        const Location at = xdotoolLocation();
        seen->push_back(at);
        if (near(at, x, y)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// A window over the whole screen that is told of every button press.
Window watchButtons(Display* d, int width, int height) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = ButtonPressMask | ButtonReleaseMask;
    const Window w =
        XCreateWindow(d, DefaultRootWindow(d), 0, 0, width, height, 0, CopyFromParent, InputOnly,
                      CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
    XMapWindow(d, w);
    XSync(d, False);
    return w;
}

int buttonEvents(Display* d) {
    XSync(d, False);
    int count = 0;
    while (XPending(d) > 0) {
        XEvent event;
        XNextEvent(d, &event);
        if (event.type == ButtonPress || event.type == ButtonRelease) ++count;
    }
    return count;
}

} // namespace

TEST(MouseFeelX11, RecenterAndClutchMoveThePointerWithoutClicks) {
    if (!xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "xdotool is not installed";
    XvfbServer server;
    ASSERT_TRUE(startXvfb(&server, 1920, 1080));
    setenv("DISPLAY", server.display, 1);
    Display* display = XOpenDisplay(server.display);
    ASSERT_NE(display, nullptr);
    watchButtons(display, 1920, 1080);
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, 10, 10);
    XSync(display, False);

    std::string folder = scratchFolder("feel");
    {
        writeFile(folder + "/motion.txt", script());
        Child devsim;
        ASSERT_TRUE(devsim.start({TOLVANE_DEVSIM, "--replay", folder + "/motion.txt", "--stream",
                                  std::to_string(linesPerSecond)},
                                 folder, folder + "/devsim.err"));
        std::string device;
        ASSERT_TRUE(devsim.readLine(&device));
        // Preset B (the device streams), air mouse on, the feel's gestures chosen.
        writeFile(folder + "/tolv.conf", device + "\n1.000000\n4\n32\n1\n8096\n1\n1\n0\n0\n0\n"
                                                  "mouseRecenter=middle-hold\nmouseClutch=right\n");
        Child bridge;
        ASSERT_TRUE(bridge.start({TOLVANE_HEADLESS}, folder, folder + "/headless.err"));

        std::vector<Location> seen;
        ASSERT_TRUE(waitFor(621, 540, &seen)) << "never pointed aside";
        ASSERT_TRUE(waitFor(960, 540, &seen)) << "never recentered";
        // From the recenter on, through the release, the whole clutch and its
        // release, the pointer stays where the recenter put it; then it moves
        // on from there by the 5 degrees the hand turned back.
        const Location centre = seen.back();
        seen.clear();
        EXPECT_TRUE(waitFor(1127, 540, &seen)) << "did not move on after the clutch";
        ASSERT_GE(seen.size(), 2u);
        int steady = 0, early = 0;
        std::string path;
        for (size_t i = 0; i + 1 < seen.size(); ++i) {
            path += " " + std::to_string(seen[i].x) + "," + std::to_string(seen[i].y);
            // The centre lies on a pixel's edge, where a turn of a millionth
            // of a degree flips the whole pixel: one pixel either way is still
            // the place the pointer stayed. Only the last readings may be on
            // the way to the new place (the mouse window averages 32 lines),
            // and only to the right.
            if (near(seen[i], centre.x, centre.y))
                ++steady;
            else if (i + 25 < seen.size() || seen[i].x < centre.x)
                ++early;
        }
        EXPECT_EQ(early, 0) << "the pointer left the centre before the turn back:" << path;
        // The clutch's seconds were watched, many times over.
        EXPECT_GT(steady, 10);
        // Neither the middle button's long press nor the clutch clicked.
        EXPECT_EQ(buttonEvents(display), 0);

        bridge.signal(SIGINT);
        EXPECT_EQ(bridge.waitExit(), 0) << bridge.errors();
        EXPECT_EQ(bridge.errors().find("==ERROR"), std::string::npos) << bridge.errors();
    }
    XCloseDisplay(display);
    stopXvfb(&server);
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(folder);
}
