// The relative and hybrid pointer modes end to end: the simulator replays a
// scripted motion, the headless bridge moves the pointer of a private Xvfb,
// and the test reads it back from the server; xdotool places it as another
// hand would.
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
constexpr double pi = 3.14159265358979323846;

// A line turned `degrees` about the second axis (positive: to the left),
// without the CR (the simulator adds it).
std::string turned(double degrees) {
    const double half = degrees * pi / 360.0;
    std::string line = deviceLine(0.0f, static_cast<float>(std::sin(half)), 0.0f,
                                  static_cast<float>(std::cos(half)), "00000");
    line.pop_back();
    return line;
}

struct Script {
    std::string text = "# pointer modes\n";
    void hold(double degrees, double seconds) {
        for (int i = 0; i < seconds * linesPerSecond; ++i)
            text += turned(degrees) + "\n";
    }
    void turn(double from, double to, double seconds) {
        const int n = static_cast<int>(seconds * linesPerSecond);
        for (int i = 1; i <= n; ++i)
            text += turned(from + (to - from) * i / n) + "\n";
    }
};

struct Location {
    int x = -1, y = -1;
};

Location pointerLocation(Display* display) {
    Window root, child;
    int x = 0, y = 0, winX = 0, winY = 0;
    unsigned mask = 0;
    if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &winX, &winY,
                       &mask))
        return Location{};
    return Location{x, y};
}

// Waits (bounded) until the pointer is within `slack` of (x, y); every
// location seen on the way is kept.
bool waitFor(Display* display, int x, int y, int slack, std::vector<Location>* seen) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        const Location at = pointerLocation(display);
        seen->push_back(at);
        if (std::abs(at.x - x) <= slack && std::abs(at.y - y) <= slack) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string path(const std::vector<Location>& seen) {
    std::string text;
    for (const Location& at : seen)
        text += " " + std::to_string(at.x) + "," + std::to_string(at.y);
    return text;
}

// Runs the bridge in preset B on the script with these keyed lines; check
// reads the pointer while it plays.
template <typename Check>
void runBridge(const Script& script, const std::string& keyed, int averaging, Check check) {
    if (!xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "xdotool is not installed";
    XvfbServer server;
    ASSERT_TRUE(startXvfb(&server, 1920, 1080));
    setenv("DISPLAY", server.display, 1);
    Display* display = XOpenDisplay(server.display);
    ASSERT_NE(display, nullptr);
    std::string folder = scratchFolder("modes");
    {
        writeFile(folder + "/motion.txt", script.text);
        Child devsim;
        ASSERT_TRUE(devsim.start({TOLVANE_DEVSIM, "--replay", folder + "/motion.txt", "--stream",
                                  std::to_string(linesPerSecond)},
                                 folder, folder + "/devsim.err"));
        std::string device;
        ASSERT_TRUE(devsim.readLine(&device));
        writeFile(folder + "/tolv.conf", device + "\n1.000000\n4\n" + std::to_string(averaging) +
                                             "\n1\n8096\n1\n1\n0\n0\n0\n" + keyed);
        Child bridge;
        ASSERT_TRUE(bridge.start({TOLVANE_HEADLESS}, folder, folder + "/headless.err"));
        check(display);
        bridge.signal(SIGINT);
        EXPECT_EQ(bridge.waitExit(), 0) << bridge.errors();
        EXPECT_EQ(bridge.errors().find("==ERROR"), std::string::npos) << bridge.errors();
    }
    XCloseDisplay(display);
    stopXvfb(&server);
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(folder);
}

} // namespace

// The pointer placed by another hand stays while the device is still, and
// moves from there by the turn's pixels: 5 degrees to the right at a
// distance of 1920 px is 168 px.
TEST(PointerModesX11, RelativeMovesAddToWhereThePointerIs) {
    Script script;
    script.hold(0, 4);
    script.turn(0, -5, 0.5);
    script.hold(-5, 4);
    runBridge(script, "pointerMode=relative\n", 8, [](Display* display) {
        ASSERT_EQ(std::system("xdotool mousemove 300 200"), 0);
        std::vector<Location> seen;
        const int moved = 300 + static_cast<int>(std::lround(1920 * std::tan(5 * pi / 180)));
        ASSERT_TRUE(waitFor(display, moved, 200, 2, &seen))
            << "never moved by the turn:" << path(seen);
        // Before the turn nothing moved it; on the way only rightwards.
        int before = 0;
        for (const Location& at : seen) {
            EXPECT_EQ(at.y, 200) << path(seen);
            EXPECT_GE(at.x, 300) << path(seen);
            EXPECT_LE(at.x, moved + 2) << path(seen);
            if (at.x == 300) ++before;
        }
        EXPECT_GT(before, 5) << path(seen);
    });
}

// Ten degrees past the right edge, then one back: the cursor leaves the edge
// by that degree's pixels instead of waiting for the ten to come back.
TEST(PointerModesX11, HybridLeavesTheEdgeAtOnceOnTheWayBack) {
    const double edge = std::atan(0.5) * 180.0 / pi;
    Script script;
    script.hold(0, 1);
    script.turn(0, -(edge + 10), 1);
    script.hold(-(edge + 10), 3);
    script.turn(-(edge + 10), -(edge + 9), 0.01);
    script.hold(-(edge + 9), 4);
    runBridge(script, "pointerMode=hybrid\n", 1, [&](Display* display) {
        std::vector<Location> seen;
        ASSERT_TRUE(waitFor(display, 1919, 540, 0, &seen))
            << "never reached the edge:" << path(seen);
        // One degree in from the edge's direction on the plane.
        const int back = static_cast<int>(960 + 1920 * std::tan((edge - 1) * pi / 180));
        seen.clear();
        EXPECT_TRUE(waitFor(display, back, 540, 2, &seen)) << "stayed at the edge:" << path(seen);
    });
}
