// X11 pointer through the XTest extension (pointer_linux.cpp chooses it): absolute motion on the
// default screen, buttons 1/3/2 for left/right/middle, the wheel as buttons 4/5. The "primary
// screen" is the monitor RandR marks as primary; several monitors share one X screen, so its size
// and origin are taken from there. Without a primary monitor (or without RandR 1.5) it is the whole
// X screen. The monitors are RandR 1.5's, in the server's order; the whole desktop is the X screen.
//
// Spoken over XCB rather than Xlib: a connection that breaks (the server goes
// away) only reports an error there, where Xlib's handlers would end the
// process, and nothing process-wide has to be changed to prevent it.
// Requests are flushed, never waited for, so a slow server does not hold up
// the measurement worker.
#include "output/pointer/pointer.h"
#include "output/pointer/pointer_backends.h"

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xcb/xtest.h>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>

#include "output/pointer/screen_choice.h"

namespace {

xcb_connection_t* connection = nullptr;
std::atomic<bool> available{false};
xcb_window_t root = XCB_NONE;
// The primary screen's size: a monitor, or the whole X screen.
int32_t monitorWidth = 0, monitorHeight = 0;
// Where the air mouse's screen starts on the X screen: the primary monitor's
// corner from the open on, the chosen screen's from setX11CursorOrigin.
std::atomic<int32_t> originX{0}, originY{0};
int32_t rootWidth = 0, rootHeight = 0;

// Windows wheel data counts in 1/120 of a notch and X knows whole notches
// only. Each direction collects its amounts and sends one notch per 120, so a
// small scroll speed scrolls as slowly as on Windows. The remainder is kept
// while the direction stays the same (a short press adds to the next one);
// turning to the other direction drops it.
constexpr int64_t wheelDelta = 120;
// A hand-edited scroll speed can reach 2^31 units per event, which would be
// millions of clicks holding up the worker for a minute per sample. Windows
// sends such an amount as one event; here one event sends at most this many
// notches and the excess is dropped.
constexpr int64_t maxNotchesPerEvent = 8;
int64_t wheelForward = 0;
int64_t wheelBackward = 0;

// Keysyms by KeyId (from KeyId::a on): letters and digits as their
// unshifted symbols, which every layout puts on some key.
constexpr uint32_t keysyms[keyIdCount - 1] = {
    // clang-format off
    'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r',
    's', 't', 'u', 'v', 'w', 'x', 'y', 'z',
    '0', '1', '2', '3', '4', '5', '6', '7', '8', '9',
    0xffbe, 0xffbf, 0xffc0, 0xffc1, 0xffc2, 0xffc3, 0xffc4, 0xffc5, 0xffc6, 0xffc7, 0xffc8, 0xffc9,
    0xff56 /* Next */, 0xff55 /* Prior */, 0xff50 /* Home */, 0xff57 /* End */,
    0xff52 /* Up */, 0xff54 /* Down */, 0xff51 /* Left */, 0xff53 /* Right */,
    0xff0d /* Return */, ' ', 0xff1b /* Escape */, 0xff09 /* Tab */, 0xff08 /* BackSpace */,
    0xffff /* Delete */, 0xff63 /* Insert */, '.', ',',
    0xffe3 /* Control_L */, 0xffe1 /* Shift_L */, 0xffe9 /* Alt_L */, 0xffeb /* Super_L */,
    // clang-format on
};
// The keycode of each KeyId in the server's keyboard map, looked up at the
// first key (a round trip, once): 0 none, -1 not looked up yet.
int keycodes[keyIdCount];
bool keymapRead = false;

void readKeymap() {
    keymapRead = true;
    for (int& k : keycodes)
        k = 0;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const uint8_t first = setup->min_keycode;
    const int count = setup->max_keycode - first + 1;
    xcb_get_keyboard_mapping_reply_t* map = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, first, static_cast<uint8_t>(count)),
        nullptr);
    if (!map) return;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
    const int perCode = map->keysyms_per_keycode;
    // The lowest column first: a symbol reached without a modifier wins.
    for (int column = 0; column < perCode; ++column)
        for (int code = 0; code < count; ++code)
            for (int key = 1; key < keyIdCount; ++key)
                if (keycodes[key] == 0 && syms[code * perCode + column] == keysyms[key - 1])
                    keycodes[key] = first + code;
    std::free(map);
}

void click(uint8_t button, bool press) {
    xcb_test_fake_input(connection, press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, button,
                        XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

void notches(uint8_t button, int64_t* collected, int64_t amount) {
    *collected += amount;
    if (*collected >= maxNotchesPerEvent * wheelDelta) *collected = maxNotchesPerEvent * wheelDelta;
    while (*collected >= wheelDelta) {
        *collected -= wheelDelta;
        click(button, true);
        click(button, false);
    }
}

int16_t coordinate(int64_t v) {
    return static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

void send() {
    xcb_flush(connection);
    // Nothing is asked for, but the server still sends the odd event to every
    // client; drop them rather than let them pile up.
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection))
        std::free(event);
    if (xcb_connection_has_error(connection)) available = false;
}

// RandR 1.5's monitors with the primary one, and the X screen as the desktop.
// Round trips: only when the pointer is opened and when a worker starts.
void queryMonitors(MonitorList* list) {
    *list = MonitorList{};
    list->primary = -1;
    list->desktop = ScreenRect{0, 0, rootWidth, rootHeight};
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (!randr || !randr->present) return;
    xcb_randr_query_version_reply_t* version = xcb_randr_query_version_reply(
        connection, xcb_randr_query_version(connection, 1, 5), nullptr);
    const bool monitors = version && (version->major_version > 1 ||
                                      (version->major_version == 1 && version->minor_version >= 5));
    std::free(version);
    if (!monitors) return;
    xcb_randr_get_monitors_reply_t* reply = xcb_randr_get_monitors_reply(
        connection, xcb_randr_get_monitors(connection, root, 1), nullptr);
    if (!reply) return;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* m = it.data;
        if (list->count >= maxMonitors) {
            ++list->unlisted; // counted, so that a list can say it stops
            continue;
        }
        if (m->primary && m->width != 0 && m->height != 0 && list->primary < 0)
            list->primary = list->count;
        list->monitor[list->count++] = ScreenRect{m->x, m->y, m->width, m->height};
    }
    std::free(reply);
}

// Takes the primary monitor's geometry when RandR names one.
void findPrimaryMonitor() {
    MonitorList list;
    queryMonitors(&list);
    if (list.primary < 0) return;
    const ScreenRect& m = list.monitor[list.primary];
    originX = m.x;
    originY = m.y;
    monitorWidth = m.width;
    monitorHeight = m.height;
}

} // namespace

bool openX11Pointer() {
    if (connection) return available;
    // Writing to a server that has gone away must fail, not end the process
    // through a broken-pipe signal; the program has no use for that signal.
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);
    int screenNumber = 0;
    connection = xcb_connect(nullptr, &screenNumber);
    const xcb_query_extension_reply_t* xtest =
        xcb_connection_has_error(connection) ? nullptr
                                             : xcb_get_extension_data(connection, &xcb_test_id);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; xtest && i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (!xtest || !xtest->present || screens.rem == 0) {
        xcb_disconnect(connection);
        connection = nullptr;
        return false;
    }
    root = screens.data->root;
    originX = originY = 0;
    monitorWidth = rootWidth = screens.data->width_in_pixels;
    monitorHeight = rootHeight = screens.data->height_in_pixels;
    findPrimaryMonitor();
    wheelForward = wheelBackward = 0;
    keymapRead = false;
    available = true;
    return true;
}

void closeX11Pointer() {
    if (!connection) return;
    available = false;
    // One round trip before the end: the server drops the requests it has
    // not yet read when the connection closes, and the last ones are the
    // releases of whatever the bridge held. Bounded: a server that hangs
    // must not hold the bridge's exit.
    const xcb_get_input_focus_cookie_t cookie = xcb_get_input_focus(connection);
    xcb_flush(connection);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (;;) {
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (xcb_poll_for_reply(connection, cookie.sequence, &reply, &error) != 0 ||
            xcb_connection_has_error(connection)) {
            std::free(reply);
            std::free(error);
            break;
        }
        if (std::chrono::steady_clock::now() > until) break;
        pollfd p{xcb_get_file_descriptor(connection), POLLIN, 0};
        poll(&p, 1, 50);
        // Reads what came, the reply included.
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection))
            std::free(event);
    }
    xcb_disconnect(connection);
    connection = nullptr;
}

bool x11PointerAvailable() {
    return available;
}

bool readX11ScreenSize(int32_t* width, int32_t* height) {
    if (!available) return false;
    *width = monitorWidth;
    *height = monitorHeight;
    return true;
}

bool readX11RootSize(int32_t* width, int32_t* height) {
    if (!available) return false;
    *width = rootWidth;
    *height = rootHeight;
    return true;
}

bool readX11Monitors(MonitorList* monitors) {
    if (!available) return false;
    queryMonitors(monitors);
    return true;
}

void setX11CursorOrigin(int32_t x, int32_t y) {
    originX = x;
    originY = y;
}

void placeX11Cursor(int32_t x, int32_t y) {
    if (!available) return;
    // Detail 0: absolute coordinates on the given root window's screen.
    xcb_test_fake_input(connection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root,
                        coordinate(static_cast<int64_t>(originX.load()) + x),
                        coordinate(static_cast<int64_t>(originY.load()) + y), 0);
    send();
}

void sendX11MouseEvent(uint32_t flags, int32_t wheelData) {
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
    send();
}

bool sendX11Key(KeyId key, bool down) {
    if (!available || key == KeyId::none || key == KeyId::count) return false;
    if (!keymapRead) readKeymap();
    const int code = keycodes[static_cast<int>(key)];
    if (code == 0) return false;
    xcb_test_fake_input(connection, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE,
                        static_cast<uint8_t>(code), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    send();
    return true;
}
