// From the simulated device to the X pointer: the headless bridge on a
// private Xvfb, read back by an ordinary X client.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/xvfb_server.h"

namespace {

struct Pointer {
    int x = -1, y = -1;
    unsigned int mask = 0;
};

Pointer readPointer(Display* display) {
    Window root, child;
    int rootX, rootY, winX, winY;
    unsigned int mask;
    Pointer p;
    if (XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &winX,
                      &winY, &mask)) {
        p.x = rootX;
        p.y = rootY;
        p.mask = mask;
    }
    return p;
}

} // namespace

TEST(HeadlessPointer, TheDevicePointsTheXCursorAndHoldsItsButton) {
    if (!xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
    XvfbServer server;
    ASSERT_TRUE(startXvfb(&server, 1920, 1080));
    Display* display = XOpenDisplay(server.display);
    ASSERT_NE(display, nullptr);
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, 10, 10);
    XSync(display, False);

    std::string folder = scratchFolder("pointer");
    {
        Child devsim;
        // Ten degrees about the second axis, left button held.
        ASSERT_TRUE(devsim.start(
            {TOLVANE_DEVSIM, "--quat", "0,0.0871557,0,0.9961947", "--buttons", "10000"}, folder,
            folder + "/devsim.err"));
        std::string device;
        ASSERT_TRUE(devsim.readLine(&device));
        // Polled free-running loop, air mouse on, no LAN.
        writeFile(folder + "/tolv.conf", device + "\n1.000000\n4\n32\n1\n8096\n1\n2\n0\n0\n0\n");
        setenv("DISPLAY", server.display, 1);
        Child bridge;
        ASSERT_TRUE(bridge.start({TOLVANE_HEADLESS}, folder, folder + "/headless.err"));
        std::string line;
        ASSERT_TRUE(bridge.readLine(&line));
        EXPECT_EQ(line, "open serial (" + device + ") :  success");
        ASSERT_TRUE(bridge.readLine(&line));
        EXPECT_EQ(line, "enable mouse");

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        Pointer p;
        while (std::chrono::steady_clock::now() < deadline) {
            p = readPointer(display);
            if (p.x != 10 && (p.mask & Button1Mask) != 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_NEAR(p.x, 621, 1);
        EXPECT_EQ(p.y, 540);
        EXPECT_NE(p.mask & Button1Mask, 0u);

        bridge.signal(SIGINT);
        EXPECT_EQ(bridge.waitExit(), 0) << bridge.errors();
        // Notes only: the display was found, and no sanitizer spoke.
        EXPECT_EQ(bridge.errors().find("no display"), std::string::npos) << bridge.errors();
        EXPECT_EQ(bridge.errors().find("==ERROR"), std::string::npos) << bridge.errors();
        EXPECT_EQ(bridge.errors().find("WARNING"), std::string::npos) << bridge.errors();
    }
    XCloseDisplay(display);
    stopXvfb(&server);
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(folder);
}
