#pragma once
// What the user gave the device's buttons to do, as the keyed lines
// "button0" .. "button4" hold it: for each press kind (a short press, a long
// one, a double one) one action, a key or chord, a mouse button, the wheel or
// one of the bridge's own actions. A key's name means what that key gives on
// a US keyboard ("B" is b, "Period" is "."); the backends send the key that
// gives the same on the layout in effect, so a program sees the same key
// under any layout.
//
// The grammar, one line per button: "press:PageDown long:Shift+F5 double:B";
// an action without "kind:" is the short press's. Names are matched without
// regard to case and shown as the table spells them.

#include <cstdint>

#include "text/number_text.h"

// Keys the bridge can send. The modifiers are keys too, pressed around a
// chord's key.
enum class KeyId : uint8_t {
    none,
    // clang-format off
    a, b, c, d, e, f, g, h, i, j, k, l, m, n, o, p, q, r, s, t, u, v, w, x, y, z,
    digit0, digit1, digit2, digit3, digit4, digit5, digit6, digit7, digit8, digit9,
    f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12,
    pageDown, pageUp, home, end, up, down, left, right,
    enter, space, escape, tab, backspace, deleteKey, insert, period, comma,
    ctrl, shift, alt, super,
    volumeUp, volumeDown,
    // clang-format on
    count
};
constexpr int keyIdCount = static_cast<int>(KeyId::count);

// The name of a key as the settings spell it ("PageDown", "F5", "B", "Ctrl").
const char* keyName(KeyId key);

enum class PressKind : uint8_t { shortPress, longPress, doublePress };
constexpr int pressKindCount = 3;
// "press", "long", "double".
const char* pressKindName(PressKind kind);

// The bridge's own actions; each is a word of the grammar.
enum class BridgeAction : uint8_t { recenter, clutch, airMouse, precision, dwell, overlay };
enum class MouseAction : uint8_t { left, right, middle, wheelUp, wheelDown };

// Motion as commands: while the button is held, the device's turn since the
// press drives the wheel (pitch), the horizontal wheel (yaw), the zoom (Ctrl
// with the wheel, pitch) or the volume (roll); output/hand/gestures.h.
enum class GestureAction : uint8_t { scroll, hScroll, zoom, volume };

enum class ActionKind : uint8_t { none, key, mouse, bridge, gesture };

// Modifier bits of a chord, pressed in this order and released in reverse.
constexpr uint8_t modifierCtrl = 1, modifierShift = 2, modifierAlt = 4, modifierSuper = 8;

struct ButtonAction {
    ActionKind kind = ActionKind::none;
    uint8_t modifiers = 0;   // key
    KeyId key = KeyId::none; // key
    MouseAction mouse{};     // mouse
    BridgeAction bridge{};   // bridge
    GestureAction gesture{}; // gesture
};

struct ButtonActions {
    ButtonAction action[pressKindCount]; // by PressKind
};

// Whether no press kind has an action (the button keeps the air mouse's
// meaning).
bool buttonActionsEmpty(const ButtonActions& actions);

// Parses one button's line; false with the reason when it is bad. The reason
// begins with the word at fault in quotes ("'Foo' is no name ..."), so a
// message shows it without the whole line. An empty text is no action at all.
bool parseButtonActions(const char* text, ButtonActions* actions, TextBuilder& reason);
// The line as the settings show it, kinds in the order press, long, double.
void formatButtonActions(const ButtonActions& actions, TextBuilder& out);
void formatButtonAction(const ButtonAction& action, TextBuilder& out);

// One action alone, as a flick line holds it ("PageDown", "Shift+F5"): a key
// or chord, a mouse button or the wheel; no press kind, no gesture and none
// of the bridge's own actions (a flick holds nothing). Empty is none.
bool parseSingleAction(const char* text, ButtonAction* action, TextBuilder& reason);

// The mapping that buttonPreset=presenter gives a button (0..4) that has no
// line of its own.
ButtonActions presenterButtonActions(int button);

constexpr int buttonCount = 5;
constexpr int buttonActionsSize = 128; // one button's line
