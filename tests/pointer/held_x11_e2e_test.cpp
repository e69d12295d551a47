// Nothing the bridge presses stays pressed, whatever ends it: the simulator
// holds the device's left button (the air mouse's default) and a button
// mapped to the right one, the headless bridge presses both on a private
// Xvfb, and after each end the server's pointer has no button down.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/device_lines.h"
#include "tests/support/loopback.h"
#include "tests/support/xvfb_server.h"

namespace {

constexpr unsigned heldMask = Button1Mask | Button3Mask;

unsigned buttonsDown(Display* d) {
    Window root, child;
    int rx, ry, wx, wy;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
    return mask & (Button1Mask | Button2Mask | Button3Mask);
}

// Waits until the buttons down are `mask` (bounded); whether they came to it.
bool waitButtons(Display* d, unsigned mask, std::chrono::seconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    while (buttonsDown(d) != mask) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Released first, so that the mapped button (which waits for a release
// after a start) goes down too; then held for minutes.
std::string script() {
    std::string text = "# held\n";
    auto add = [&](const char* buttons, int count) {
        std::string line = deviceLine(0.0f, 0.0f, 0.0f, 1.0f, buttons);
        line.pop_back(); // the simulator adds the CR
        for (int i = 0; i < count; ++i)
            text += line + "\n";
    };
    add("00000", 20);
    add("10001", 30000);
    return text;
}

enum class End { signal, deviceLost, clientLeaves, clientQuiet };

struct Case {
    const char* name;
    End end;
    int signal = 0;
};

} // namespace

TEST(HeldX11, EveryEndLetsGoOfTheButtons) {
    if (!xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
    XvfbServer server;
    ASSERT_TRUE(startXvfb(&server, 1280, 720));
    setenv("DISPLAY", server.display, 1);
    Display* display = XOpenDisplay(server.display);
    ASSERT_NE(display, nullptr);
    const std::string folder = scratchFolder("held");
    writeFile(folder + "/held.txt", script());

    const Case cases[] = {
        {"SIGINT", End::signal, SIGINT},
        {"SIGTERM", End::signal, SIGTERM},
        {"SIGHUP", End::signal, SIGHUP},
        {"SIGQUIT", End::signal, SIGQUIT},
        {"the device goes away", End::deviceLost},
        {"the LAN client leaves", End::clientLeaves},
        {"the LAN client goes quiet", End::clientQuiet},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool lan = c.end == End::clientLeaves || c.end == End::clientQuiet;
        Child devsim;
        std::vector<std::string> simulator = {TOLVANE_DEVSIM, "--replay", folder + "/held.txt"};
        if (!lan) simulator.insert(simulator.end(), {"--stream", "100"});
        ASSERT_TRUE(devsim.start(simulator, folder, folder + "/devsim.err"));
        std::string device;
        ASSERT_TRUE(devsim.readLine(&device));
        const uint16_t port = freePort();
        // Preset B streaming, or preset C with the plain LAN server.
        writeFile(folder + "/tolv.conf", device + "\n1.000000\n4\n32\n1\n" + std::to_string(port) +
                                             (lan ? "\n1\n0\n1\n0\n0\n" : "\n1\n1\n0\n0\n0\n") +
                                             "pointer=x11\nbutton4=RightButton\n");
        Child bridge;
        ASSERT_TRUE(bridge.start({TOLVANE_HEADLESS}, folder, folder + "/headless.err"));
        NativeSocket client = noSocket;
        if (lan) {
            client = connectLoopback(port);
            ASSERT_NE(client, noSocket) << bridge.errors();
            // Asks until both buttons are down; each plain reply ends with
            // the five button values.
            for (int n = 0; n < 500 && buttonsDown(display) != heldMask; ++n) {
                ASSERT_TRUE(sendText(client, "D"));
                receiveCount(client, 1, Bound(2000));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        ASSERT_TRUE(waitButtons(display, heldMask, std::chrono::seconds(20))) << bridge.errors();

        switch (c.end) {
        case End::signal:
            bridge.signal(c.signal);
            EXPECT_EQ(bridge.waitExit(), 0) << bridge.errors();
            break;
        case End::deviceLost:
            devsim.signal(SIGKILL);
            break;
        case End::clientLeaves:
            closeNativeSocket(client);
            client = noSocket;
            break;
        case End::clientQuiet:
            break;
        }
        EXPECT_TRUE(waitButtons(display, 0, std::chrono::seconds(10))) << bridge.errors();
        if (c.end == End::clientQuiet) {
            // One note, and the held buttons stay up while the client asks
            // again and the device still holds them.
            for (int n = 0; n < 20; ++n) {
                ASSERT_TRUE(sendText(client, "D"));
                receiveCount(client, 1, Bound(2000));
            }
            EXPECT_EQ(buttonsDown(display), 0u);
            EXPECT_NE(bridge.errors().find("no fresh sample for 1 s"), std::string::npos)
                << bridge.errors();
        }
        if (client != noSocket) closeNativeSocket(client);
        if (c.end != End::signal) {
            bridge.signal(SIGINT);
            EXPECT_EQ(bridge.waitExit(), 0) << bridge.errors();
            EXPECT_EQ(buttonsDown(display), 0u);
        }
    }
    XCloseDisplay(display);
    stopXvfb(&server);
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(folder);
}
