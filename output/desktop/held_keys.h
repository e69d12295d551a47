#pragma once
// What the key backends hold down. A key name becomes a stroke when it goes
// down: the key that gives it and the modifier keys its level needs on the
// layout of that moment. Its release lets go of that same stroke, even when
// the layout changed in between. A modifier that a chord and a level both
// need (Shift+Period where "." is a shifted key) goes down once and up once.

#include <cstdint>

#include "settings/button_actions.h"

// One key and the modifier keys pressed around it, as the backend's codes
// (X keycodes, evdev codes, virtual keys); all below 256.
struct KeyStroke {
    uint16_t key = 0;
    uint16_t modifier[3] = {};
    int modifierCount = 0;
};

struct HeldKeys {
    KeyStroke stroke[keyIdCount];
    uint8_t down[keyIdCount] = {}; // presses not yet released
    uint8_t count[256] = {};
};

using SendKeyCode = void (*)(uint16_t code, bool down);

// Presses the stroke's modifiers, then its key, each only if nothing holds
// it yet; false (and nothing sent) when a code is out of range. A key name
// pressed again while down keeps its first stroke and sends nothing.
bool pressStroke(HeldKeys& held, KeyId key, const KeyStroke& stroke, SendKeyCode send);
// Lets go of what the key's first press took, in reverse, at its last
// release; false when it is not down.
bool releaseStroke(HeldKeys& held, KeyId key, SendKeyCode send);
