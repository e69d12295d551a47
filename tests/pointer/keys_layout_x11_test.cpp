// The X keys under other keyboard layouts: on a private Xvfb, setxkbmap
// changes the layout (or locks another group) while the pointer stays open,
// and every key name must still reach an ordinary X client as the symbol it
// gives under US. An XInput2 raw-event watcher sees the keycodes; the test
// turns them into keysyms with the server's keymap and group of the moment,
// through Xlib's XKB, as an application would.
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "output/desktop/keys.h"
#include "output/desktop/pointer.h"
#include "settings/settings.h"
#include "tests/support/child_process.h"
#include "tests/support/raw_input_watch.h"
#include "tests/support/xvfb_server.h"

namespace {

struct Expected {
    KeyId key;
    KeySym symbol; // what it gives under US
};

// The presenter's keys and the letters and signs that move between layouts.
constexpr Expected keys[] = {
    {KeyId::pageDown, XK_Next}, {KeyId::pageUp, XK_Prior},  {KeyId::f5, XK_F5},
    {KeyId::b, XK_b},           {KeyId::escape, XK_Escape}, {KeyId::a, XK_a},
    {KeyId::q, XK_q},           {KeyId::z, XK_z},           {KeyId::y, XK_y},
    {KeyId::m, XK_m},           {KeyId::period, XK_period}, {KeyId::comma, XK_comma},
    {KeyId::digit1, XK_1},
};

constexpr const char* setxkbmap = "/usr/bin/setxkbmap";

bool setLayout(const std::string& folder, const char* display, const char* layout) {
    Child child;
    if (!child.start({setxkbmap, "-display", display, "-layout", layout}, folder,
                     folder + "/setxkbmap.err"))
        return false;
    const bool done = child.waitExit() == 0;
    if (!done) ADD_FAILURE() << "setxkbmap " << layout << ": " << child.errors();
    return done;
}

// Taps one key and reads what reached the server until every key it held is
// up again: the symbols of the keys that are no modifier, with the
// modifiers the watcher saw held at their press.
std::vector<KeySym> typed(Display* display, KeyId key) {
    XkbDescPtr xkb = XkbGetMap(display, XkbAllClientInfoMask, XkbUseCoreKbd);
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    std::vector<KeySym> symbols;
    if (!xkb) return symbols;
    EXPECT_TRUE(sendKey(key, true));
    EXPECT_TRUE(sendKey(key, false));
    std::multiset<int> held;
    do {
        const auto events = watchRawInput(display, 1, std::chrono::seconds(10));
        if (events.empty()) {
            ADD_FAILURE() << "no key event within the bound";
            break;
        }
        const RawInputEvent& e = events[0];
        if (e.type == XI_RawKeyRelease) {
            held.erase(e.detail);
            continue;
        }
        unsigned mods = 0;
        for (int code : held)
            mods |= xkb->map->modmap[code];
        held.insert(e.detail);
        if (xkb->map->modmap[e.detail] != 0) continue;
        unsigned modsLeft = 0;
        KeySym symbol = NoSymbol;
        XkbTranslateKeyCode(xkb, static_cast<KeyCode>(e.detail),
                            XkbBuildCoreState(mods, state.group), &modsLeft, &symbol);
        symbols.push_back(symbol);
    } while (!held.empty());
    XkbFreeKeyboard(xkb, 0, True);
    return symbols;
}

} // namespace

TEST(KeysLayoutX11, EveryKeyGivesItsUsSymbolOnEachLayoutAndAfterEachSwitch) {
    if (!xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
    if (!std::filesystem::exists(setxkbmap))
        GTEST_SKIP() << "setxkbmap is not installed (Debian package x11-xkb-utils)";
    const std::string folder = scratchFolder("keys-layout");
    XvfbServer server;
    ASSERT_TRUE(startXvfb(&server, 640, 480));
    setenv("DISPLAY", server.display, 1);
    Display* display = XOpenDisplay(server.display);
    ASSERT_NE(display, nullptr);
    ASSERT_TRUE(selectRawInput(display, {XI_RawKeyPress, XI_RawKeyRelease}));
    settings.pointer = PointerBackend::x11;
    settings.mouseEnabled = 0;
    ASSERT_TRUE(openPointer());

    // The layouts follow each other while the pointer stays open; the last
    // two are groups of one keymap, locked in turn.
    for (const char* layout : {"us", "fr", "de", "us,fr", "us,fr:1"}) {
        SCOPED_TRACE(layout);
        if (std::string(layout) == "us,fr:1") {
            ASSERT_TRUE(XkbLockGroup(display, XkbUseCoreKbd, 1));
            XSync(display, False);
        } else {
            ASSERT_TRUE(setLayout(folder, server.display, layout));
        }
        for (const Expected& k : keys) {
            SCOPED_TRACE(keyName(k.key));
            EXPECT_EQ(typed(display, k.key), std::vector<KeySym>{k.symbol});
        }
    }

    // A layout without the symbol: said to the caller, nothing sent.
    ASSERT_TRUE(setLayout(folder, server.display, "ru"));
    EXPECT_FALSE(sendKey(KeyId::b, true));
    EXPECT_EQ(typed(display, KeyId::period), std::vector<KeySym>{XK_period});

    closePointer();
    XCloseDisplay(display);
    stopXvfb(&server);
    if (!::testing::Test::HasFailure()) std::filesystem::remove_all(folder);
}
