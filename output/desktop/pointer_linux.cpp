// The Linux pointer: XTest or a uinput device, chosen when the pointer opens
// (see pointer_choice.h), and every call passed on to the one chosen.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "output/desktop/key_layout.h"
#include "output/desktop/keys.h"
#include "output/desktop/pointer.h"
#include "output/desktop/pointer_backends.h"
#include "output/desktop/pointer_choice.h"
#include "output/desktop/screen_geometry.h"
#include "protocol/output_note.h"
#include "settings/settings.h"
#include "settings/settings_table.h"
#include "text/number_text.h"

namespace {

// Written only while no worker runs; read by the worker.
std::atomic<PointerKind> kind{PointerKind::none};

bool waylandSession() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    return display && display[0] != '\0';
}

// The screen a uinput device spans: the size the user gave, else the box
// around the compositor's outputs, else the whole X screen; with the outputs
// or the X monitors inside it where they are known.
bool uinputScreen(bool xOpen, int32_t* width, int32_t* height, const char** from,
                  MonitorList* monitors) {
    *monitors = MonitorList{};
    monitors->primary = -1;
    char size[screenSizeSize];
    getScreenSize(size);
    if (parseScreenSize(size, width, height)) {
        *from = "screenSize";
        return true;
    }
    if (waylandSession()) {
        OutputGeometry outputs[maxOutputs];
        const int count = readWaylandOutputs(outputs, maxOutputs);
        if (count > 0 && desktopExtent(outputs, count, width, height)) {
            desktopMonitors(outputs, count, monitors);
            *from =
                count == 1 ? "the compositor's output" : "the box around the compositor's outputs";
            return true;
        }
    }
    if (xOpen && readX11RootSize(width, height)) {
        readX11Monitors(monitors);
        *from = "the X screen";
        return true;
    }
    return false;
}

bool buttonsMapped() {
    if (settings.buttonPreset.load() != ButtonPreset::none) return true;
    for (int k = 0; k < buttonCount; ++k) {
        char line[buttonActionsSize];
        getButtonLine(k, line);
        if (line[0] != '\0') return true;
    }
    return false;
}

// Keys through uinput are places on the keyboard: the compositor's layout,
// which the bridge cannot read, makes the characters. XKB_DEFAULT_LAYOUT (and
// its VARIANT, OPTIONS), which sway and weston read for their own layout too,
// names it: keys are then found by what they give on that layout's first
// group, as on X. Without it, by their place on a US keyboard.
xkb_keymap* uinputLayout = nullptr;
bool uinputLayoutRead = false;
HeldKeys uinputHeld;

const char* namedLayout() {
    const char* layout = std::getenv("XKB_DEFAULT_LAYOUT");
    return layout && layout[0] != '\0' ? layout : nullptr;
}

// Compiled once, from the names in the environment; null when none is named
// or the names do not compile (then the US places serve).
xkb_keymap* readUinputLayout() {
    if (uinputLayoutRead) return uinputLayout;
    uinputLayoutRead = true;
    if (!namedLayout()) return nullptr;
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context) return nullptr;
    uinputLayout = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    return uinputLayout;
}

// xkbcommon numbers the evdev codes from 8, as X does.
void sendEvdevKey(uint16_t code, bool down) {
    if (code > 8) sendUinputKeyCode(code - 8u, down);
}

bool sendUinputLayoutKey(KeyId key, bool down) {
    if (!uinputPointerAvailable()) return false;
    if (!down) return releaseStroke(uinputHeld, key, sendEvdevKey);
    KeyStroke stroke;
    xkb_keymap* layout = readUinputLayout();
    if (layout) {
        if (!findKeyStroke(layout, 0, keySymbol(key), &stroke)) return false;
    } else {
        stroke.key = static_cast<uint16_t>(uinputKeyCode(key) + 8);
    }
    return pressStroke(uinputHeld, key, stroke, sendEvdevKey);
}

} // namespace

bool openPointer() {
    if (kind != PointerKind::none) return pointerAvailable();
    const PointerBackend wish = settings.pointer.load();
    const bool wayland = waylandSession();
    int fd = wish == PointerBackend::x11 ? -1 : openUinputNode();
    const int uinputError = fd < 0 ? errno : 0;
    // Under Wayland a display connection may start Xwayland for nothing:
    // asked only where the answer can change the choice.
    const bool askX =
        wish == PointerBackend::x11 || (wish == PointerBackend::automatic && !(wayland && fd >= 0));
    const bool xOpen = askX && openX11Pointer();
    const PointerChoice choice = choosePointerBackend(
        PointerProbe{wish, wayland, xOpen, fd >= 0, fd >= 0 ? 0 : uinputError});
    char note[pointerReasonSize + 160];
    TextBuilder text(note, sizeof note);
    text.append(choice.reason);
    kind = choice.backend;

    if (kind == PointerKind::uinput) {
        const bool relative = settings.pointerMode.load() == PointerMode::relative;
        int32_t width = 0, height = 0;
        const char* from = "";
        MonitorList monitors;
        if (!uinputScreen(xOpen, &width, &height, &from, &monitors)) {
            text.append("; but the screen's size is unknown: give it as screenSize=WxH");
            kind = PointerKind::none;
        } else if (!openUinputPointer(fd, width, height, relative)) {
            text.append("; but the device was refused: ");
            text.append(std::strerror(errno));
            kind = PointerKind::none;
        } else {
            setUinputMonitors(monitors);
            text.append(" (");
            text.appendInteger(width);
            text.append("x");
            text.appendInteger(height);
            text.append(" from ");
            text.append(from);
            text.append(relative ? ", relative moves on " : ", ");
            text.append(uinputDeviceNode());
            // The keyboard beside it, made now when the buttons send keys,
            // so that the compositor has taken it before the first key.
            if (buttonsMapped() && openUinputKeys(openUinputNode())) {
                text.append(", keys ");
                text.append(uinputKeysNode());
                if (namedLayout()) {
                    const bool read = readUinputLayout() != nullptr;
                    text.append(read ? " on the layout " : " at their US places: the layout ");
                    text.append(namedLayout());
                    text.append(read ? " from XKB_DEFAULT_LAYOUT"
                                     : " from XKB_DEFAULT_LAYOUT is unknown");
                }
            }
            text.append(")");
        }
        fd = -1; // taken or closed by openUinputPointer, or closed below
    }
    if (fd >= 0) close(fd);
    if (xOpen && kind != PointerKind::x11) closeX11Pointer();
    // Which way the pointer acts and why, or why it cannot, for whoever turned
    // the air mouse on.
    const bool none = kind == PointerKind::none;
    if (settings.mouseEnabled.load() != 0)
        sayNote("pointer", none ? NoteLevel::problem : NoteLevel::info, "air mouse: %s%s",
                none ? "none: " : "", note);
    return !none;
}

void closePointer() {
    if (kind == PointerKind::x11) closeX11Pointer();
    if (kind == PointerKind::uinput) {
        closeUinputKeys();
        closeUinputPointer();
        uinputHeld = HeldKeys{};
    }
    kind = PointerKind::none;
}

bool pointerAvailable() {
    if (kind == PointerKind::x11) return x11PointerAvailable();
    if (kind == PointerKind::uinput) return uinputPointerAvailable();
    return false;
}

bool readScreenSize(int32_t* width, int32_t* height) {
    if (kind == PointerKind::x11) return readX11ScreenSize(width, height);
    if (kind == PointerKind::uinput) return readUinputScreenSize(width, height);
    return false;
}

bool readMonitors(MonitorList* monitors) {
    if (kind == PointerKind::x11) return readX11Monitors(monitors);
    if (kind == PointerKind::uinput) return readUinputMonitors(monitors);
    return false;
}

bool listMonitors(MonitorList* monitors) {
    if (kind != PointerKind::none) return readMonitors(monitors);
    // As the pointer would find them: the compositor's outputs under Wayland,
    // else RandR's monitors, through a connection of its own.
    if (waylandSession()) {
        OutputGeometry outputs[maxOutputs];
        const int count = readWaylandOutputs(outputs, maxOutputs);
        if (count > 0 && desktopMonitors(outputs, count, monitors)) return true;
    }
    if (!openX11Pointer()) return false;
    const bool read = readX11Monitors(monitors);
    closeX11Pointer();
    return read;
}

void setCursorOrigin(int32_t x, int32_t y) {
    if (kind == PointerKind::x11) setX11CursorOrigin(x, y);
    if (kind == PointerKind::uinput) setUinputCursorOrigin(x, y);
}

void placeCursor(int32_t x, int32_t y) {
    if (kind == PointerKind::x11) placeX11Cursor(x, y);
    if (kind == PointerKind::uinput) placeUinputCursor(x, y);
}

void moveCursorBy(int32_t dx, int32_t dy) {
    if (kind == PointerKind::x11) moveX11Cursor(dx, dy);
    if (kind == PointerKind::uinput) moveUinputCursor(dx, dy);
}

void sendMouseEvent(uint32_t flags, int32_t wheelData) {
    if (kind == PointerKind::x11) sendX11MouseEvent(flags, wheelData);
    if (kind == PointerKind::uinput) sendUinputMouseEvent(flags, wheelData);
}

bool sendKey(KeyId key, bool down) {
    if (kind == PointerKind::x11) return sendX11Key(key, down);
    if (kind == PointerKind::uinput) return sendUinputLayoutKey(key, down);
    return false;
}
