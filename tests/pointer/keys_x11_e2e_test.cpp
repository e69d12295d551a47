// The buttons' keys end to end on X11: the simulator replays a scripted
// capture, the headless bridge maps the buttons to keys, and an XInput2 raw
// event watcher on the root window of a private Xvfb sees them (XTest keys
// reach XI2 raw events without any window having the focus).
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/device_lines.h"
#include "tests/support/raw_input_watch.h"
#include "tests/support/xvfb_server.h"

namespace {

std::string still(const char* buttons) {
    std::string line = deviceLine(0.0f, 0.0f, 0.0f, 1.0f, buttons);
    line.pop_back(); // the simulator adds the CR
    return line;
}

// At 100 lines a second: button 0 tapped (press), button 1 held 1.5 s (long,
// past 0.5 s), button 3 pressed twice 0.1 s apart (double, within 1 s), and
// rest between them. The margins are wide: the bridge times the lines as they
// arrive, and a busy machine delivers them late or in bursts.
std::string script() {
    std::string text = "# keys\n";
    auto add = [&](const char* buttons, int count) {
        for (int i = 0; i < count; ++i)
            text += still(buttons) + "\n";
    };
    add("00000", 50);
    add("10000", 10);
    add("00000", 50);
    add("01000", 150);
    add("00000", 50);
    add("00010", 5);
    add("00000", 5);
    add("00010", 5);
    add("00000", 200);
    return text;
}

std::string code(Display* d, KeySym symbol, bool down) {
    return (down ? "+" : "-") + std::to_string(XKeysymToKeycode(d, symbol));
}

} // namespace

TEST(KeysX11, ButtonsPressReleaseAndChordsReachTheServer) {
    if (!xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
    XvfbServer server;
    ASSERT_TRUE(startXvfb(&server, 1280, 720));
    setenv("DISPLAY", server.display, 1);
    Display* display = XOpenDisplay(server.display);
    ASSERT_NE(display, nullptr);
    ASSERT_TRUE(selectRawInput(display, {XI_RawKeyPress, XI_RawKeyRelease}));

    const std::vector<std::string> expected = {
        code(display, XK_Next, true),    code(display, XK_Next, false),
        code(display, XK_Shift_L, true), code(display, XK_F5, true),
        code(display, XK_F5, false),     code(display, XK_Shift_L, false),
        code(display, XK_b, true),       code(display, XK_b, false),
    };

    std::string folder = scratchFolder("keys");
    {
        writeFile(folder + "/keys.txt", script());
        Child devsim;
        ASSERT_TRUE(
            devsim.start({TOLVANE_DEVSIM, "--replay", folder + "/keys.txt", "--stream", "100"},
                         folder, folder + "/devsim.err"));
        std::string device;
        ASSERT_TRUE(devsim.readLine(&device));
        // Preset B, the air mouse on, three buttons mapped, XTest.
        writeFile(folder + "/tolv.conf", device + "\n1.000000\n4\n32\n1\n8096\n1\n1\n0\n0\n0\n"
                                                  "pointer=x11\n"
                                                  "button0=press:PageDown\n"
                                                  "button1=long:Shift+F5\n"
                                                  "button3=double:B\n"
                                                  "doublePress=1000\n");
        Child bridge;
        ASSERT_TRUE(bridge.start({TOLVANE_HEADLESS}, folder, folder + "/headless.err"));
        std::vector<std::string> seen;
        for (const RawInputEvent& e :
             watchRawInput(display, expected.size(), std::chrono::seconds(30)))
            seen.push_back((e.type == XI_RawKeyPress ? "+" : "-") + std::to_string(e.detail));
        EXPECT_EQ(seen, expected);

        bridge.signal(SIGINT);
        EXPECT_EQ(bridge.waitExit(), 0) << bridge.errors();
        EXPECT_EQ(bridge.errors().find("keys:"), std::string::npos) << bridge.errors();
    }
    XCloseDisplay(display);
    stopXvfb(&server);
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(folder);
}
