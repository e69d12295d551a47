// X11 pointer through the XTest extension: absolute motion on the default
// screen, buttons 1/3/2 for left/right/middle, the wheel as buttons 4/5.
//
// The connection is opened and closed by the main thread and used by the
// measurement worker in between, never by two threads at once. Requests are
// flushed, never synced, so a slow server does not hold up the worker.
#include "output/pointer.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <atomic>
#include <csignal>

namespace {

Display* display = nullptr;
std::atomic<bool> available{false};
std::atomic<bool> lost{false};
int screen = 0;

// Windows wheel data counts in 1/120 of a notch and X knows whole notches
// only. Each direction collects its amounts and sends one notch per 120, so a
// small scroll speed scrolls as slowly as on Windows. The remainder is kept
// while the direction stays the same (a short press adds to the next one);
// turning to the other direction drops it.
constexpr int64_t wheelDelta = 120;
int64_t wheelForward = 0;
int64_t wheelBackward = 0;

// After a fatal error on a connection (the server went away) Xlib's default
// handlers end the process. For this connection both handlers return, which
// leaves the display marked broken, and the pointer stops acting; other
// connections keep whatever handler was there before.
XIOErrorHandler otherConnections = nullptr;
bool handlerInstalled = false;

int connectionError(Display* d) {
    if (d == display) return 0;
    return otherConnections ? otherConnections(d) : 0;
}

void connectionLost(Display*, void*) {
    available = false;
    lost = true;
}

void click(unsigned int button, bool press) {
    XTestFakeButtonEvent(display, button, press ? True : False, CurrentTime);
}

void notches(unsigned int button, int64_t* collected, int64_t amount) {
    *collected += amount;
    while (*collected >= wheelDelta) {
        *collected -= wheelDelta;
        click(button, true);
        click(button, false);
    }
}

} // namespace

bool openPointer() {
    if (display) return available;
    display = XOpenDisplay(nullptr);
    if (!display) return false;
    int eventBase, errorBase, major, minor;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        XCloseDisplay(display);
        display = nullptr;
        return false;
    }
    // A lost server must not end the process through a broken-pipe signal
    // while writing to it; the program has no use for that signal anyway.
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);
    if (!handlerInstalled) {
        otherConnections = XSetIOErrorHandler(connectionError);
        handlerInstalled = true;
    }
    XSetIOErrorExitHandler(display, connectionLost, nullptr);
    screen = DefaultScreen(display);
    wheelForward = wheelBackward = 0;
    available = true;
    return true;
}

void closePointer() {
    if (!display) return;
    available = false;
    // A connection that failed stays locked by Xlib and closing it could
    // hang; it is left as it is.
    if (!lost) XCloseDisplay(display);
    lost = false;
    display = nullptr;
}

bool pointerAvailable() {
    return available;
}

bool readScreenSize(int32_t* width, int32_t* height) {
    if (!available) return false;
    *width = DisplayWidth(display, screen);
    *height = DisplayHeight(display, screen);
    return true;
}

void placeCursor(int32_t x, int32_t y) {
    if (!available) return;
    XTestFakeMotionEvent(display, screen, x, y, CurrentTime);
    XFlush(display);
}

void sendMouseEvent(uint32_t flags, int32_t wheelData) {
    if (!available) return;
    // Windows handles the flags of one record in this order.
    if (flags & mouseEventLeftDown) click(1, true);
    if (flags & mouseEventLeftUp) click(1, false);
    if (flags & mouseEventRightDown) click(3, true);
    if (flags & mouseEventRightUp) click(3, false);
    if (flags & mouseEventMiddleDown) click(2, true);
    if (flags & mouseEventMiddleUp) click(2, false);
    if ((flags & mouseEventWheel) && wheelData > 0) {
        wheelBackward = 0;
        notches(4, &wheelForward, wheelData);
    } else if ((flags & mouseEventWheel) && wheelData < 0) {
        wheelForward = 0;
        notches(5, &wheelBackward, -static_cast<int64_t>(wheelData));
    }
    XFlush(display);
}
