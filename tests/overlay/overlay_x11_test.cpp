// The overlay's X11 window on a private Xvfb with a white root, with and
// without a compositor, read back with real screenshots (`import -window
// root`): the pointed spot unchanged, a far pixel darkened by the dimming
// (or, without a compositor, the screen left as it was and the ring drawn), a
// click on a darkened window reaching it, and nothing left after the release.
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

#include "output/overlay/overlay_output.h"
#include "tests/support/child_process.h"
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

// Takes screenshots until `done` holds of one (at most 20 s).
bool awaitShot(const std::string& display, const std::string& path,
               const std::function<bool(const Shot&)>& done, Shot* last) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
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

constexpr int pointX = 400, pointY = 240, radius = 60;

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

        OverlayLook look;
        look.radius = radius;
        overlayPoint(pointX, pointY);
        setOverlayWindowsOpener(openOverlayWindows);
        startOverlay(look);
        overlayHold(true);
        const std::string shotPath = folder + "/shot.ppm";
        Shot shot;
        if (c.compositor) {
            // 60 % darker: 255 * 0.4.
            EXPECT_TRUE(awaitShot(
                server.display, shotPath,
                [](const Shot& s) {
                    return isWhite(s.at(pointX, pointY)) && near(s.at(600, 20), 102, 102, 102) &&
                           near(s.at(100, 100), 102, 102, 102);
                },
                &shot))
                << "at the point " << shot.at(pointX, pointY).r << ", far " << shot.at(600, 20).r;
            std::system(("DISPLAY=" + std::string(server.display) +
                         " timeout 20 import -window root -depth 8 png:'" + folder +
                         "/spotlight.png' 2>/dev/null")
                            .c_str());
        } else {
            // The screen stays as it was; only the ring shows.
            EXPECT_TRUE(awaitShot(
                server.display, shotPath,
                [](const Shot& s) {
                    return isWhite(s.at(pointX, pointY)) && isWhite(s.at(600, 20)) &&
                           near(s.at(pointX + radius + 2, pointY), 255, 32, 32) &&
                           near(s.at(pointX, pointY - radius - 2), 255, 32, 32);
                },
                &shot))
                << "at the point " << shot.at(pointX, pointY).r << ", far " << shot.at(600, 20).r
                << ", on the ring " << shot.at(pointX + radius + 2, pointY).r << " "
                << shot.at(pointX + radius + 2, pointY).g << " "
                << shot.at(pointX + radius + 2, pointY).b;
        }

        // A click where the overlay darkens reaches the window below.
        XTestFakeMotionEvent(display, 0, 100, 100, CurrentTime);
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XFlush(display);
        EXPECT_TRUE(awaitPress(display, below)) << "the click did not go through";

        overlayHold(false);
        EXPECT_TRUE(awaitShot(
            server.display, shotPath,
            [](const Shot& s) {
                return isWhite(s.at(600, 20)) && isWhite(s.at(100, 100)) &&
                       isWhite(s.at(pointX + radius + 2, pointY));
            },
            &shot))
            << "something is left after the release";
        stopOverlay();

        XCloseDisplay(display);
        if (c.compositor) {
            compositor.signal(SIGTERM);
            compositor.waitExit();
        }
        stopXvfb(&server);
    }
}
