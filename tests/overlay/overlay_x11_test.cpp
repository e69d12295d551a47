// The overlay end to end on X11: the simulator holds a button mapped to
// Overlay (the air mouse off, the device pointing at the screen's centre),
// the headless bridge draws on a private Xvfb with a white root, with
// xcompmgr and without, and real screenshots (`import -window root`) show
// the pointed spot unchanged and a far pixel darkened by the dimming (or,
// without a compositor, the screen as it was and the ring drawn); a click on
// a darkened window reaches it, and the release takes everything away.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/device_lines.h"
#include "tests/support/xvfb_server.h"

namespace {

struct Rgb {
    int r = -1, g = -1, b = -1;
};

// A screenshot of the root as `import` takes it, read from a binary PPM.
struct Shot {
    int width = 0, height = 0;
    std::vector<unsigned char> data;
    Rgb at(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return {};
        const unsigned char* p = data.data() + (static_cast<size_t>(y) * width + x) * 3;
        return {p[0], p[1], p[2]};
    }
};

bool takeShot(const std::string& display, const std::string& path, Shot* shot) {
    std::string command = "DISPLAY=" + display + " timeout 20 import -window root -depth 8 ppm:'" +
                          path + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return false;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    int maxValue = 0;
    bool ok = std::fscanf(file, "P6 %d %d %d", &shot->width, &shot->height, &maxValue) == 3 &&
              maxValue == 255 && std::fgetc(file) != EOF;
    if (ok) {
        shot->data.resize(static_cast<size_t>(shot->width) * shot->height * 3);
        ok = std::fread(shot->data.data(), 1, shot->data.size(), file) == shot->data.size();
    }
    std::fclose(file);
    return ok;
}

// Takes screenshots until `done` holds of one (at most 30 s).
bool awaitShot(const std::string& display, const std::string& path,
               const std::function<bool(const Shot&)>& done, Shot* last) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline)
        if (takeShot(display, path, last) && done(*last)) return true;
    return false;
}

bool near(const Rgb& got, int r, int g, int b, int slack = 3) {
    return std::abs(got.r - r) <= slack && std::abs(got.g - g) <= slack &&
           std::abs(got.b - b) <= slack;
}

bool isWhite(const Rgb& p) {
    return near(p, 255, 255, 255, 0);
}

// Where a program is on the PATH; empty when it is not.
std::string programPath(const char* name) {
    std::string path;
    FILE* found = popen((std::string("command -v ") + name + " 2>/dev/null").c_str(), "r");
    if (found == nullptr) return path;
    char line[512];
    if (std::fgets(line, sizeof line, found) != nullptr) path = line;
    pclose(found);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
        path.pop_back();
    return path;
}

bool compositorRuns(Display* display) {
    Atom selection = XInternAtom(display, "_NET_WM_CM_S0", False);
    return XGetSelectionOwner(display, selection) != None;
}

// A button press on `window`, awaited at most 10 s.
bool awaitPress(Display* display, Window window) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        XEvent event;
        if (XCheckWindowEvent(display, window, ButtonPressMask, &event)) return true;
        pollfd p{ConnectionNumber(display), POLLIN, 0};
        poll(&p, 1, 100);
    }
    return false;
}

constexpr int pointX = 320, pointY = 240, radius = 60;

// At 100 lines a second, straight ahead: released, then button 4 held 15 s
// and let go 5 s, round again.
std::string script() {
    std::string text = "# overlay\n";
    auto add = [&](const char* buttons, int count) {
        std::string line = deviceLine(0.0f, 0.0f, 0.0f, 1.0f, buttons);
        line.pop_back(); // the simulator adds the CR
        for (int i = 0; i < count; ++i)
            text += line + "\n";
    };
    add("00000", 20);
    add("00001", 1500);
    add("00000", 500);
    return text;
}

// Pixels of the ring's colour (an opaque ring of radius 60 has some 1500).
int ringPixels(const Shot& s) {
    int count = 0;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            if (near(s.at(x, y), 255, 32, 32, 8)) ++count;
    return count;
}

// A window over the screen whose background (kept by the server whatever
// covers it) is a white slide: a title bar and lines of text as bars.
Window makeSlide(Display* display) {
    Window root = DefaultRootWindow(display);
    Pixmap slide = XCreatePixmap(display, root, 640, 480, DefaultDepth(display, 0));
    GC gc = XCreateGC(display, slide, 0, nullptr);
    XSetForeground(display, gc, WhitePixel(display, 0));
    XFillRectangle(display, slide, gc, 0, 0, 640, 480);
    XSetForeground(display, gc, 0x2050a0);
    XFillRectangle(display, slide, gc, 40, 40, 480, 36);
    XSetForeground(display, gc, 0x404040);
    for (int i = 0; i < 6; ++i) {
        int y = 120 + i * 45; // never on the rows probed (20, 100, 178, 240)
        XFillRectangle(display, slide, gc, 60, y, 12, 12);
        XFillRectangle(display, slide, gc, 90, y, 360 + (i % 3) * 60, 12);
    }
    XFreeGC(display, gc);
    Window window =
        XCreateSimpleWindow(display, root, 0, 0, 640, 480, 0, 0, WhitePixel(display, 0));
    XSetWindowBackgroundPixmap(display, window, slide);
    XFreePixmap(display, slide);
    return window;
}

} // namespace

TEST(OverlayX11, ShowsTheSpotlightAndLetsClicksThrough) {
    if (!xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
    if (programPath("import").empty()) GTEST_SKIP() << "ImageMagick's import is not installed";
    const std::string compositorProgram = programPath("xcompmgr");
    const std::string folder = scratchFolder("overlay_x11");

    struct Case {
        const char* what;
        bool compositor;
    } cases[] = {{"without a compositor", false}, {"with a compositor", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.compositor && compositorProgram.empty()) {
            std::fprintf(stderr, "xcompmgr is not installed: the blended case is skipped\n");
            continue;
        }
        XvfbServer server;
        ASSERT_TRUE(startXvfb(&server, 640, 480, true));
        setenv("DISPLAY", server.display, 1);
        Display* display = XOpenDisplay(server.display);
        ASSERT_NE(display, nullptr);

        // A white window below over the whole screen (xcompmgr paints a bare
        // root grey) with a slide's bars on it, away from the pixels probed;
        // a click on it must go through the overlay.
        Window below = makeSlide(display);
        XSelectInput(display, below, ButtonPressMask);
        XMapWindow(display, below);
        XSync(display, False);

        Child compositor;
        if (c.compositor) {
            ASSERT_TRUE(compositor.start({compositorProgram}, folder, folder + "/xcompmgr.err"));
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!compositorRuns(display) && std::chrono::steady_clock::now() < deadline)
                poll(nullptr, 0, 20);
            ASSERT_TRUE(compositorRuns(display));
        }

        writeFile(folder + "/overlay.txt", script());
        Child devsim;
        ASSERT_TRUE(
            devsim.start({TOLVANE_DEVSIM, "--replay", folder + "/overlay.txt", "--stream", "100"},
                         folder, folder + "/devsim.err"));
        std::string device;
        ASSERT_TRUE(devsim.readLine(&device));
        // Preset B, the air mouse off, button 4 on Overlay.
        writeFile(folder + "/tolv.conf", device + "\n1.000000\n4\n32\n1\n8096\n0\n1\n0\n0\n0\n"
                                                  "pointer=x11\nbutton4=Overlay\n"
                                                  "overlayRadius=60\n");
        Child bridge;
        ASSERT_TRUE(bridge.start({TOLVANE_HEADLESS}, folder, folder + "/headless.err"));
        const std::string shotPath = folder + "/shot.ppm";
        Shot shot;
        // Dimmed 60 %: 255 * 0.4; without a compositor the ring alone.
        auto shown = [&c](const Shot& s) {
            if (!isWhite(s.at(pointX, pointY))) return false;
            if (c.compositor)
                return near(s.at(600, 20), 102, 102, 102) && near(s.at(100, 100), 102, 102, 102);
            return isWhite(s.at(600, 20)) && ringPixels(s) > 1000;
        };
        ASSERT_TRUE(awaitShot(server.display, shotPath, shown, &shot))
            << "at the point " << shot.at(pointX, pointY).r << ", far " << shot.at(600, 20).r
            << ", ring pixels " << ringPixels(shot) << "\n"
            << bridge.errors();
        if (c.compositor)
            std::system(("DISPLAY=" + std::string(server.display) +
                         " timeout 20 import -window root -depth 8 png:'" + folder +
                         "/spotlight.png' 2>/dev/null")
                            .c_str());

        // A click where the overlay darkens reaches the window below.
        XTestFakeMotionEvent(display, 0, 100, 100, CurrentTime);
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XFlush(display);
        EXPECT_TRUE(awaitPress(display, below)) << "the click did not go through";
        // Still shown after the click: it went through the overlay.
        EXPECT_TRUE(takeShot(server.display, shotPath, &shot) && shown(shot));

        // The release (at most 15 s on) takes everything away.
        EXPECT_TRUE(awaitShot(
            server.display, shotPath,
            [](const Shot& s) {
                return isWhite(s.at(600, 20)) && isWhite(s.at(100, 100)) && ringPixels(s) == 0;
            },
            &shot))
            << "something is left after the release";
        bridge.signal(SIGTERM);
        EXPECT_EQ(bridge.waitExit(), 0) << bridge.errors();

        XCloseDisplay(display);
        if (c.compositor) {
            compositor.signal(SIGTERM);
            compositor.waitExit();
        }
        stopXvfb(&server);
    }
}
