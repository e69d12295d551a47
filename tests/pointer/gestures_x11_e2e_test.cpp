// Motion as commands end to end on X11: the simulator replays a scripted
// hand, the headless bridge turns a held Scroll button's tilt into wheel
// notches and a flick into its key, and an XInput2 raw event watcher on a
// private Xvfb sees them; the pointer stays where it was throughout. The
// decoder, given the bridge's recording and its settings file, tells the
// same notches and the same key.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/device_lines.h"
#include "tests/support/raw_input_watch.h"
#include "tests/support/xvfb_server.h"

namespace {

// The device turned `pitch` up, then `yaw` to the right (degrees).
std::string hand(double pitch, double yaw, const char* buttons) {
    const double p = pitch * M_PI / 360.0, y = -yaw * M_PI / 360.0;
    // (sin p, 0, 0, cos p) * (0, sin y, 0, cos y)
    std::string line = deviceLine(static_cast<float>(std::sin(p) * std::cos(y)),
                                  static_cast<float>(std::cos(p) * std::sin(y)),
                                  static_cast<float>(std::sin(p) * std::sin(y)),
                                  static_cast<float>(std::cos(p) * std::cos(y)), buttons);
    line.pop_back(); // the simulator adds the CR
    return line;
}

// At 100 lines a second: rest; button 0 (Scroll) pressed, the tip raised to
// 20 degrees in half a second and held there a second; released; then a
// flick to the right of 30 degrees in 0.1 s, and rest.
std::string script() {
    std::string text = "# gestures\n";
    auto add = [&](double pitch, double yaw, const char* buttons) {
        text += hand(pitch, yaw, buttons) + "\n";
    };
    for (int n = 0; n < 100; ++n)
        add(0, 0, "00000");
    for (int n = 0; n < 10; ++n)
        add(0, 0, "10000");
    for (int n = 1; n <= 50; ++n)
        add(20.0 * n / 50, 0, "10000");
    for (int n = 0; n < 100; ++n)
        add(20, 0, "10000");
    for (int n = 0; n < 100; ++n)
        add(20, 0, "00000");
    for (int n = 1; n <= 10; ++n)
        add(20, 3.0 * n, "00000");
    for (int n = 0; n < 300; ++n)
        add(20, 30, "00000");
    return text;
}

struct Pointer {
    int x = -1, y = -1;
};

Pointer pointerAt(Display* d) {
    Window root, child;
    Pointer at;
    int wx, wy;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &at.x, &at.y, &wx, &wy, &mask);
    return at;
}

} // namespace

TEST(GesturesX11, HeldScrollTurnsTheWheelAndAFlickSendsItsKey) {
    if (!xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
    XvfbServer server;
    ASSERT_TRUE(startXvfb(&server, 1280, 720));
    setenv("DISPLAY", server.display, 1);
    Display* display = XOpenDisplay(server.display);
    ASSERT_NE(display, nullptr);
    ASSERT_TRUE(selectRawInput(
        display, {XI_RawButtonPress, XI_RawButtonRelease, XI_RawKeyPress, XI_RawKeyRelease}));
    const int next = static_cast<int>(XKeysymToKeycode(display, XK_Next));

    std::string folder = scratchFolder("gestures");
    {
        writeFile(folder + "/hand.txt", script());
        Child devsim;
        ASSERT_TRUE(
            devsim.start({TOLVANE_DEVSIM, "--replay", folder + "/hand.txt", "--stream", "100"},
                         folder, folder + "/devsim.err"));
        std::string device;
        ASSERT_TRUE(devsim.readLine(&device));
        // Preset B, the air mouse on (one line averaged), XTest. The flick's
        // limits are wide, since a busy machine delivers lines late or in
        // bursts; the tilt stays slower than them.
        writeFile(folder + "/tolv.conf", device + "\n1.000000\n4\n1\n1\n8096\n1\n1\n0\n0\n0\n"
                                                  "pointer=x11\n"
                                                  "button0=Scroll\n"
                                                  "flickRight=PageDown\n"
                                                  "flickSpeed=100\n"
                                                  "flickTime=500\n"
                                                  "flickWhen=always\n");
        Child bridge;
        ASSERT_TRUE(bridge.start({TOLVANE_HEADLESS, "--record", folder + "/run.txt"}, folder,
                                 folder + "/headless.err"));
        int wheelUp = 0;
        std::vector<std::string> other;
        bool flicked = false;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(40);
        while (!flicked && std::chrono::steady_clock::now() < until) {
            const std::vector<RawInputEvent> got =
                watchRawInput(display, 1, std::chrono::seconds(10));
            if (got.empty()) break;
            const RawInputEvent& e = got[0];
            if (e.type == XI_RawButtonPress && e.detail == 4) {
                ++wheelUp;
            } else if (e.type == XI_RawButtonRelease && e.detail == 4) {
            } else if (e.type == XI_RawKeyPress && e.detail == next) {
            } else if (e.type == XI_RawKeyRelease && e.detail == next) {
                flicked = true;
            } else {
                other.push_back(std::to_string(e.type) + ":" + std::to_string(e.detail));
            }
        }
        // A second at about 17 notches a second (20 degrees past the dead
        // zone of 3), and the way up to it; a late or bunched line changes
        // a few.
        EXPECT_GE(wheelUp, 10);
        EXPECT_LE(wheelUp, 30);
        EXPECT_TRUE(flicked);
        EXPECT_TRUE(other.empty()) << other.size() << " other events, the first " << other[0];
        // Neither the tilt nor the flick moved the pointer from where the
        // first lines put it: the screen's centre.
        const Pointer end = pointerAt(display);
        EXPECT_NEAR(end.x, 640, 1);
        EXPECT_NEAR(end.y, 360, 1);

        bridge.signal(SIGINT);
        EXPECT_EQ(bridge.waitExit(), 0) << bridge.errors();

        // What the decoder makes of the same lines at the times the bridge
        // read them (wheel data in 120ths of a notch).
        Child decode;
        ASSERT_TRUE(decode.start({TOLVANE_DECODE, "--config", folder + "/tolv.conf", "--cursor",
                                  "1280x720", folder + "/run.txt"},
                                 folder, folder + "/decode.err"));
        int decodedUp = 0;
        int decodedKeys = 0;
        std::string line;
        while (decode.readLine(&line)) {
            for (size_t at = line.find(" | wheel +"); at != std::string::npos;
                 at = line.find(" | wheel +", at + 1))
                decodedUp += std::stoi(line.substr(at + 10)) / 120;
            if (line.find("key PageDown down") != std::string::npos) ++decodedKeys;
        }
        EXPECT_EQ(decode.waitExit(), 0) << decode.errors();
        EXPECT_EQ(decodedUp, wheelUp);
        EXPECT_EQ(decodedKeys, 1);
    }
    XCloseDisplay(display);
    stopXvfb(&server);
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(folder);
}
