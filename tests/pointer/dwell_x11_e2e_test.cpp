// The dwell click end to end on X11: the simulator replays a scripted
// motion (a rest, a slow creep, another rest, round again), the headless
// bridge with dwellClick=left moves the pointer of a private Xvfb through
// XTest, and an XInput2 watcher on the root window counts the button events
// and where the pointer was at each press.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/device_lines.h"
#include "tests/support/raw_input_watch.h"
#include "tests/support/xvfb_server.h"

namespace {

// Turned `degrees` about the second axis, no button, without the CR.
std::string turned(double degrees) {
    const double half = degrees * 3.14159265358979323846 / 360.0;
    std::string line = deviceLine(0.0f, static_cast<float>(std::sin(half)), 0.0f,
                                  static_cast<float>(std::cos(half)), "00000");
    line.pop_back();
    return line;
}

// At 100 lines a second, round and round: 2.5 s at -4 degrees (x 729 on a
// 1280 wide screen), a creep of 1 degree a second (22 px a second: each line
// moves the pointer a fifth of a pixel) to 0, 2.5 s at +4 degrees (x 550).
std::string script() {
    std::string text = "# dwell\n";
    for (int i = 0; i < 250; ++i)
        text += turned(-4) + "\n";
    for (int i = 0; i < 400; ++i)
        text += turned(-4 + i * 0.01) + "\n";
    for (int i = 0; i < 250; ++i)
        text += turned(4) + "\n";
    return text;
}

} // namespace

TEST(DwellX11, ClicksOncePerRestAndNeverWhileCreeping) {
    if (!xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
    XvfbServer server;
    ASSERT_TRUE(startXvfb(&server, 1280, 720));
    setenv("DISPLAY", server.display, 1);
    Display* display = XOpenDisplay(server.display);
    ASSERT_NE(display, nullptr);
    ASSERT_TRUE(selectRawInput(display, {XI_ButtonPress, XI_ButtonRelease}));

    std::string folder = scratchFolder("dwell");
    {
        writeFile(folder + "/dwell.txt", script());
        Child devsim;
        ASSERT_TRUE(
            devsim.start({TOLVANE_DEVSIM, "--replay", folder + "/dwell.txt", "--stream", "100"},
                         folder, folder + "/devsim.err"));
        std::string device;
        ASSERT_TRUE(devsim.readLine(&device));
        // Preset B, the air mouse on, XTest, the dwell click with its defaults.
        writeFile(folder + "/tolv.conf", device + "\n1.000000\n4\n32\n1\n8096\n1\n1\n0\n0\n0\n"
                                                  "pointer=x11\n"
                                                  "dwellClick=left\n");
        Child bridge;
        ASSERT_TRUE(bridge.start({TOLVANE_HEADLESS}, folder, folder + "/headless.err"));
        // Three clicks: two rests of one round and one of the next, whatever
        // the phase the bridge started in.
        const std::vector<RawInputEvent> seen = watchRawInput(display, 6, std::chrono::seconds(60));
        ASSERT_EQ(seen.size(), 6u);
        int previous = 0; // -1 at the left rest, +1 at the right one
        unsigned long previousAt = 0;
        for (size_t i = 0; i < seen.size(); i += 2) {
            const RawInputEvent& down = seen[i];
            const RawInputEvent& up = seen[i + 1];
            EXPECT_TRUE(down.type == XI_ButtonPress && up.type == XI_ButtonRelease &&
                        down.detail == 1 && up.detail == 1)
                << i;
            // Only ever at a rest, never on the creep between them. A rest
            // that began late (the bridge started then) may end as the creep
            // begins: still within the radius (8 px) of the rest.
            const int rest = std::abs(down.x - 729) <= 12   ? 1
                             : std::abs(down.x - 550) <= 12 ? -1
                                                            : 0;
            EXPECT_NE(rest, 0) << "a click at " << down.x << "," << down.y;
            EXPECT_NEAR(down.y, 360, 3);
            // One click per rest: the next is at the other one, or (a machine
            // so busy that the bridge read a rest in one burst) at the same
            // place a round (9 s) later, never within the same rest (2.5 s).
            if (rest == previous) {
                EXPECT_GT(down.time - previousAt, 4500u) << "two clicks at " << down.x;
            }
            previous = rest;
            previousAt = down.time;
        }

        bridge.signal(SIGINT);
        EXPECT_EQ(bridge.waitExit(), 0) << bridge.errors();
        EXPECT_NE(bridge.errors().find("dwell click on"), std::string::npos) << bridge.errors();
    }
    XCloseDisplay(display);
    stopXvfb(&server);
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(folder);
}
