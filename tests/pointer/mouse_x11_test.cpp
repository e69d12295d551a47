// The X11 pointer against a private Xvfb: the pointer is read back and the
// button and wheel events are received by an ordinary X client.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "output/hand/air_mouse.h"
#include "output/desktop/pointer.h"
#include "output/hand/pointer_output.h"
#include "output/desktop/screen_choice.h"
#include "protocol/output_note.h"
#include "settings/settings.h"
#include "tests/support/xvfb_server.h"

namespace {

// The pointer's last note: which way it acts, or why it cannot.
std::string pointerNote;
void keepPointerNote(const char* source, NoteLevel, const char* text) {
    if (std::strcmp(source, "pointer") == 0) pointerNote = text;
}

// Opens the pointer with the air mouse on, so that it says its choice.
bool openPointerSaying() {
    pointerNote.clear();
    setNoteListener(keepPointerNote);
    settings.mouseEnabled = 1;
    const bool opened = openPointer();
    setNoteListener(nullptr);
    return opened;
}

constexpr int testWidth = 1000, testHeight = 700;
constexpr auto eventBound = std::chrono::seconds(10);

struct ButtonEvent {
    bool press;
    unsigned int button;
    bool operator==(const ButtonEvent&) const = default;
};

void PrintTo(const ButtonEvent& e, std::ostream* os) {
    *os << (e.press ? "press " : "release ") << e.button;
}

// Waits (bounded) for the next event of the client's connection.
bool nextEvent(Display* d, XEvent* event) {
    const auto deadline = std::chrono::steady_clock::now() + eventBound;
    while (!XPending(d)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        poll(&p, 1, static_cast<int>(left.count()));
    }
    XNextEvent(d, event);
    return true;
}

// Where the X server has the pointer, once it equals the expected place
// (the backend flushes without waiting for the server).
bool pointerReaches(Display* d, int x, int y, int* seenX, int* seenY) {
    const auto deadline = std::chrono::steady_clock::now() + eventBound;
    Window root, child;
    int wx, wy;
    unsigned int mask;
    do {
        XQueryPointer(d, DefaultRootWindow(d), &root, &child, seenX, seenY, &wx, &wy, &mask);
        if (*seenX == x && *seenY == y) return true;
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

class X11Pointer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!xvfbInstalled()) return;
        started = startXvfb(&server, testWidth, testHeight);
        if (started) setenv("DISPLAY", server.display, 1);
        // In a Wayland session with /dev/uinput open to the user, the pointer
        // would make a device instead.
        unsetenv("WAYLAND_DISPLAY");
    }
    static void TearDownTestSuite() {
        closePointer();
        stopXvfb(&server);
    }

    void SetUp() override {
        if (!xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_TRUE(started) << "Xvfb did not start";
        // A fresh connection per test, so the wheel starts with nothing collected.
        closePointer();
        ASSERT_TRUE(openPointerSaying());
        EXPECT_NE(pointerNote.find("air mouse: XTest"), std::string::npos) << pointerNote;
        client = XOpenDisplay(server.display);
        ASSERT_NE(client, nullptr);
    }

    void TearDown() override {
        if (client) XCloseDisplay(client);
    }

    bool pointerReaches(int x, int y, int* seenX, int* seenY) {
        return ::pointerReaches(client, x, y, seenX, seenY);
    }

    // A window over the whole screen that receives the buttons.
    void coverScreen() {
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.event_mask = ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
        const Window w = XCreateWindow(client, DefaultRootWindow(client), 0, 0, testWidth,
                                       testHeight, 0, CopyFromParent, InputOnly, CopyFromParent,
                                       CWOverrideRedirect | CWEventMask, &attributes);
        XMapWindow(client, w);
        XEvent event;
        do {
            ASSERT_TRUE(nextEvent(client, &event)) << "window never mapped";
        } while (event.type != MapNotify);
    }

    // Button events up to and including the release of `marker`.
    std::vector<ButtonEvent> buttonsUntilRelease(unsigned int marker) {
        std::vector<ButtonEvent> seen;
        XEvent event;
        while (nextEvent(client, &event)) {
            if (event.type != ButtonPress && event.type != ButtonRelease) continue;
            seen.push_back(ButtonEvent{event.type == ButtonPress, event.xbutton.button});
            if (event.type == ButtonRelease && event.xbutton.button == marker) break;
        }
        return seen;
    }

    static inline XvfbServer server;
    static inline bool started = false;
    Display* client = nullptr;
};

} // namespace

TEST_F(X11Pointer, ReportsTheScreenAndMovesThePointer) {
    int32_t w = 0, h = 0;
    ASSERT_TRUE(readScreenSize(&w, &h));
    EXPECT_EQ(w, testWidth);
    EXPECT_EQ(h, testHeight);

    int x = -1, y = -1;
    placeCursor(123, 456);
    EXPECT_TRUE(pointerReaches(123, 456, &x, &y)) << x << "," << y;
    placeCursor(testWidth - 1, 0);
    EXPECT_TRUE(pointerReaches(testWidth - 1, 0, &x, &y)) << x << "," << y;

    // The whole air mouse on this screen: straight ahead is its middle.
    screenWidth = w;
    screenHeight = h;
    settings.screenDistance = 1.0f;
    computeScreenDistancePixels();
    updateCursor(MotionOutput{{0, 0, 0}, {0, 0, 0, 1}});
    EXPECT_TRUE(pointerReaches(500, 350, &x, &y)) << x << "," << y;
}

TEST_F(X11Pointer, ButtonsArriveAtTheWindowUnderThePointer) {
    coverScreen();
    placeCursor(200, 100);
    sendMouseEvent(mouseEventAbsolute | mouseEventLeftDown, 0);
    sendMouseEvent(mouseEventAbsolute | mouseEventLeftUp, 0);
    sendMouseEvent(mouseEventAbsolute | mouseEventRightDown, 0);
    sendMouseEvent(mouseEventAbsolute | mouseEventRightUp, 0);
    sendMouseEvent(mouseEventAbsolute | mouseEventMiddleDown, 0);
    sendMouseEvent(mouseEventAbsolute | mouseEventMiddleUp, 0);
    EXPECT_EQ(buttonsUntilRelease(2),
              (std::vector<ButtonEvent>{
                  {true, 1}, {false, 1}, {true, 3}, {false, 3}, {true, 2}, {false, 2}}));

    // Through the air mouse: a held left button is pressed once.
    resetPreviousButtons();
    injectButtons(ButtonState{{1, 0, 0, 0, 0}});
    injectButtons(ButtonState{{1, 0, 0, 0, 0}});
    injectButtons(ButtonState{{0, 0, 0, 0, 0}});
    EXPECT_EQ(buttonsUntilRelease(1), (std::vector<ButtonEvent>{{true, 1}, {false, 1}}));
}

TEST_F(X11Pointer, WheelSendsOneNotchPerHundredTwentyUnits) {
    coverScreen();
    placeCursor(10, 10);
    const std::vector<ButtonEvent> marker{{true, 2}, {false, 2}};
    const std::vector<ButtonEvent> up{{true, 4}, {false, 4}}, down{{true, 5}, {false, 5}};
    auto flush = [&] {
        sendMouseEvent(mouseEventAbsolute | mouseEventMiddleDown, 0);
        sendMouseEvent(mouseEventAbsolute | mouseEventMiddleUp, 0);
        return buttonsUntilRelease(2);
    };

    // Scroll speed 4, as the device's default: 30 samples make one notch.
    for (int i = 0; i < 29; ++i)
        sendMouseEvent(mouseEventWheel, 4);
    EXPECT_EQ(flush(), marker);
    sendMouseEvent(mouseEventWheel, 4);
    std::vector<ButtonEvent> expected = up;
    expected.insert(expected.end(), marker.begin(), marker.end());
    EXPECT_EQ(flush(), expected);

    // Large amounts make several notches at once, backwards on button 5.
    sendMouseEvent(mouseEventWheel, -250);
    expected = down;
    expected.insert(expected.end(), down.begin(), down.end());
    expected.insert(expected.end(), marker.begin(), marker.end());
    EXPECT_EQ(flush(), expected);

    // A hand-edited speed of 2^31 - 1 stays a few notches, nothing collected.
    sendMouseEvent(mouseEventWheel, INT32_MAX);
    sendMouseEvent(mouseEventWheel, INT32_MIN);
    expected.clear();
    for (int i = 0; i < 8; ++i)
        expected.insert(expected.end(), up.begin(), up.end());
    for (int i = 0; i < 8; ++i)
        expected.insert(expected.end(), down.begin(), down.end());
    expected.insert(expected.end(), marker.begin(), marker.end());
    EXPECT_EQ(flush(), expected);

    // Turning round drops what the other direction had collected (10 here).
    sendMouseEvent(mouseEventWheel, 60);
    sendMouseEvent(mouseEventWheel, -110);
    sendMouseEvent(mouseEventWheel, 60);
    EXPECT_EQ(flush(), marker);
    sendMouseEvent(mouseEventWheel, 60);
    expected = up;
    expected.insert(expected.end(), marker.begin(), marker.end());
    EXPECT_EQ(flush(), expected);

    // Held wheel button through the air mouse at speed 60: every second sample.
    settings.scrollSpeed = 60;
    for (int i = 0; i < 4; ++i)
        injectButtons(ButtonState{{0, 0, 0, 1, 0}});
    injectButtons(ButtonState{{0, 0, 0, 0, 0}});
    expected = down;
    expected.insert(expected.end(), down.begin(), down.end());
    expected.insert(expected.end(), marker.begin(), marker.end());
    EXPECT_EQ(flush(), expected);
}

TEST(X11PointerWithoutDisplay, DoesNothingAndSaysSo) {
    if (access("/dev/uinput", W_OK) == 0)
        GTEST_SKIP() << "/dev/uinput is open to this user: the pointer would make a device";
    closePointer();
    const char* old = std::getenv("DISPLAY");
    const std::string saved = old ? old : "";
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_FALSE(openPointerSaying());
    // Without X and without the device, the note says what to do.
    EXPECT_NE(pointerNote.find("air mouse: none: "), std::string::npos) << pointerNote;
    EXPECT_NE(pointerNote.find("no X display"), std::string::npos) << pointerNote;
    EXPECT_FALSE(pointerAvailable());
    int32_t w = -1, h = -1;
    EXPECT_FALSE(readScreenSize(&w, &h));
    placeCursor(1, 2);
    sendMouseEvent(mouseEventAbsolute | mouseEventLeftDown, 0);
    sendMouseEvent(mouseEventWheel, 120);
    closePointer();
    if (old) setenv("DISPLAY", saved.c_str(), 1);
}

TEST(X11PointerWithoutDisplay, ServerThatGoesAwayStopsThePointerNotTheProgram) {
    if (!xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
    closePointer();
    XvfbServer own;
    ASSERT_TRUE(startXvfb(&own, 640, 480));
    const char* old = std::getenv("DISPLAY");
    const std::string saved = old ? old : "";
    setenv("DISPLAY", own.display, 1);
    ASSERT_TRUE(openPointer());
    placeCursor(5, 5);
    stopXvfb(&own);
    // The loss shows at the first write that fails; nothing may end the process.
    for (int i = 0; i < 100 && pointerAvailable(); ++i) {
        placeCursor(i, i);
        sendMouseEvent(mouseEventAbsolute | mouseEventLeftDown, 0);
        sendMouseEvent(mouseEventWheel, 120);
    }
    EXPECT_FALSE(pointerAvailable());
    placeCursor(1, 1);
    closePointer();
    EXPECT_FALSE(openPointer());
    if (old) setenv("DISPLAY", saved.c_str(), 1);
}

TEST(X11PointerMonitors, ThePrimaryMonitorIsTheScreen) {
    if (!xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
    closePointer();
    // Two monitors side by side on one X screen, the right one primary.
    XvfbServer wide;
    ASSERT_TRUE(startXvfb(&wide, 1824, 768));
    Display* d = XOpenDisplay(wide.display);
    ASSERT_NE(d, nullptr);
    XRRMonitorInfo* m = XRRAllocateMonitor(d, 0);
    m->name = XInternAtom(d, "LEFT", False);
    m->width = 800;
    m->height = 600;
    XRRSetMonitor(d, DefaultRootWindow(d), m);
    m->name = XInternAtom(d, "RIGHT", False);
    m->primary = True;
    m->x = 800;
    m->width = 1024;
    m->height = 768;
    XRRSetMonitor(d, DefaultRootWindow(d), m);
    XRRFreeMonitors(m);
    XSync(d, False);

    const char* old = std::getenv("DISPLAY");
    const std::string saved = old ? old : "";
    setenv("DISPLAY", wide.display, 1);
    ASSERT_TRUE(openPointer());
    int32_t w = 0, h = 0;
    EXPECT_TRUE(readScreenSize(&w, &h));
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 768);
    placeCursor(10, 20);
    int x = -1, y = -1;
    EXPECT_TRUE(pointerReaches(d, 810, 20, &x, &y)) << x << "," << y;

    // mouseScreen through the air mouse: pointing straight ahead lands in
    // the middle of each monitor by its number, of the whole screen for all,
    // and of the primary one for a monitor that is not there.
    MonitorList monitors{};
    ASSERT_TRUE(readMonitors(&monitors));
    ASSERT_GE(monitors.count, 2);
    ASSERT_GE(monitors.primary, 0);
    EXPECT_EQ(monitors.monitor[monitors.primary].x, 800);
    std::vector<std::pair<int32_t, ScreenRect>> cases = {
        {mouseScreenAll, ScreenRect{0, 0, 1824, 768}},
        {mouseScreenMax, monitors.monitor[monitors.primary]}};
    for (int i = 0; i < monitors.count; ++i)
        cases.emplace_back(i + 1, monitors.monitor[i]);
    settings.mouseEnabled = 1;
    setNoteListener(keepPointerNote);
    for (const auto& [which, rect] : cases) {
        settings.mouseScreen = which;
        pointerNote.clear();
        pointerOutput.prepare();
        // The notes list the monitors; one that is not there is said.
        EXPECT_NE(pointerNote.find("; monitors: 1 "), std::string::npos) << pointerNote;
        EXPECT_EQ(pointerNote.find("air mouse: monitor 16 is not there") == 0,
                  which == mouseScreenMax)
            << pointerNote;
        updateCursor(MotionOutput{{0, 0, 0}, {0, 0, 0, 1}});
        EXPECT_TRUE(pointerReaches(d, rect.x + rect.width / 2, rect.y + rect.height / 2, &x, &y))
            << which << ": " << x << "," << y;
    }
    setNoteListener(nullptr);
    settings.mouseScreen = mouseScreenPrimary;

    closePointer();
    XCloseDisplay(d);
    stopXvfb(&wide);
    if (old) setenv("DISPLAY", saved.c_str(), 1);
}
