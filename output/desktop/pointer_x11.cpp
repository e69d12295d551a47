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
#include "output/desktop/pointer.h"
#include "output/desktop/pointer_backends.h"

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xcb/xtest.h>
// XCB's XKB header names a field "explicit", which C++ reserves.
#define explicit xkbExplicit
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>

#include "output/desktop/key_layout.h"
#include "output/desktop/screen_choice.h"

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
// The horizontal wheel the same way: buttons 7 (right) and 6 (left).
int64_t wheelRight = 0;
int64_t wheelLeft = 0;

// The keys by what they give in the server's keyboard map (key_layout.h):
// the keymap is read at the first key and again after the server says it
// changed (setxkbmap, a new keyboard); the layout group in effect follows its
// state events. Both arrive as events on this connection, so a key costs no
// round trip unless the map changed.
xkb_context* xkbContext = nullptr;
xkb_keymap* keymap = nullptr;
xkb_state* keyState = nullptr;
int32_t keyboardId = -1;
uint8_t xkbEventBase = 0;
bool keymapStale = true;
HeldKeys heldKeys;

// Asks for the core keyboard's map and group changes; false without XKB.
bool watchKeymap() {
    uint8_t errorBase = 0;
    if (!xkb_x11_setup_xkb_extension(
            connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &xkbEventBase, &errorBase))
        return false;
    keyboardId = xkb_x11_get_core_keyboard_device_id(connection);
    if (keyboardId < 0) return false;
    constexpr uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY |
                                XCB_XKB_EVENT_TYPE_MAP_NOTIFY | XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    constexpr uint16_t mapParts =
        XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
        XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
        XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState = XCB_XKB_STATE_PART_GROUP_STATE;
    details.stateDetails = XCB_XKB_STATE_PART_GROUP_STATE;
    xcb_xkb_select_events_aux(connection, static_cast<xcb_xkb_device_spec_t>(keyboardId), events, 0,
                              0, mapParts, mapParts, &details);
    return true;
}

void forgetKeymap() {
    if (keyState) xkb_state_unref(keyState);
    if (keymap) xkb_keymap_unref(keymap);
    keyState = nullptr;
    keymap = nullptr;
    keymapStale = true;
}

// Round trips: the whole map and the state, after a change only.
void readKeymap() {
    forgetKeymap();
    if (keyboardId < 0) return;
    if (!xkbContext) xkbContext = xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES);
    if (!xkbContext) return;
    keymap = xkb_x11_keymap_new_from_device(xkbContext, connection, keyboardId,
                                            XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap) keyState = xkb_x11_state_new_from_device(keymap, connection, keyboardId);
    // Tried again at the next key when the server did not answer whole.
    keymapStale = !keymap || !keyState;
}

// Only the keyboard's events were asked for; any other the server sends is
// dropped.
void takeEvent(xcb_generic_event_t* event) {
    if (keyboardId < 0 || (event->response_type & 0x7f) != xkbEventBase) return;
    // Every XKB event has its kind in the second byte.
    const uint8_t kind = event->pad0;
    if (kind == XCB_XKB_NEW_KEYBOARD_NOTIFY || kind == XCB_XKB_MAP_NOTIFY) {
        keymapStale = true;
    } else if (kind == XCB_XKB_STATE_NOTIFY && keyState) {
        const auto* e = reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event);
        xkb_state_update_mask(keyState, e->baseMods, e->latchedMods, e->lockedMods,
                              static_cast<xkb_layout_index_t>(e->baseGroup),
                              static_cast<xkb_layout_index_t>(e->latchedGroup),
                              static_cast<xkb_layout_index_t>(e->lockedGroup));
    }
}

void takeEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
        takeEvent(event);
        std::free(event);
    }
}

void fakeKey(uint16_t code, bool down) {
    xcb_test_fake_input(connection, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE,
                        static_cast<uint8_t>(code), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
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
    // Besides the keyboard's, the server still sends the odd event to every
    // client; they are read here rather than left to pile up.
    takeEvents();
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
    wheelForward = wheelBackward = wheelRight = wheelLeft = 0;
    forgetKeymap();
    heldKeys = HeldKeys{};
    keyboardId = -1;
    watchKeymap();
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
    forgetKeymap();
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

void moveX11Cursor(int32_t dx, int32_t dy) {
    if (!available) return;
    // Detail 1: a move by (dx, dy) from where the pointer is, in steps that
    // fit the request's 16-bit fields.
    int64_t x = dx, y = dy;
    while (x != 0 || y != 0) {
        const int64_t sx = x < -32767 ? -32767 : x > 32767 ? 32767 : x;
        const int64_t sy = y < -32767 ? -32767 : y > 32767 ? 32767 : y;
        xcb_test_fake_input(connection, XCB_MOTION_NOTIFY, 1, XCB_CURRENT_TIME, XCB_NONE,
                            static_cast<int16_t>(sx), static_cast<int16_t>(sy), 0);
        x -= sx;
        y -= sy;
    }
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
    if ((flags & mouseEventHWheel) && wheelData > 0) {
        wheelLeft = 0;
        notches(7, &wheelRight, wheelData);
    } else if ((flags & mouseEventHWheel) && wheelData < 0) {
        wheelRight = 0;
        notches(6, &wheelLeft, -static_cast<int64_t>(wheelData));
    }
    send();
}

bool sendX11Key(KeyId key, bool down) {
    if (!available || key == KeyId::none || key == KeyId::count) return false;
    // A release lets go of what its press took, whatever the map says now.
    if (!down) {
        const bool released = releaseStroke(heldKeys, key, fakeKey);
        send();
        return released;
    }
    takeEvents();
    if (keymapStale) readKeymap();
    if (!keymap || !keyState) return false;
    KeyStroke stroke;
    const xkb_layout_index_t group =
        xkb_state_serialize_layout(keyState, XKB_STATE_LAYOUT_EFFECTIVE);
    if (!findKeyStroke(keymap, group, keySymbol(key), &stroke) ||
        !pressStroke(heldKeys, key, stroke, fakeKey))
        return false;
    send();
    return true;
}
