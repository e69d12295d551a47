#pragma once
// Keys by what they give. A key name stands for the symbol its key types on
// a US keyboard without Shift (B is "b", Period is ".", 1 is "1") or for
// what the key is for (F5, PageDown, Esc, Shift). The X and uinput keys send
// the key that gives that symbol on the keyboard layout in effect, holding
// Shift or AltGr where that layout puts it on a higher level, so that a
// slide program gets "b" and "." under AZERTY and QWERTZ as under US. Keymaps
// come from xkbcommon: the X server's, or one compiled from layout names.

#include <xkbcommon/xkbcommon.h>

#include "output/desktop/held_keys.h"

// The keysym a key name stands for (0 for none).
xkb_keysym_t keySymbol(KeyId key);

// The key giving `symbol` in `layout` of `keymap`, at the lowest level that
// held modifier keys reach (never a lock), with those keys. Where that layout
// has no such key, another layout's key (a Latin group beside a Cyrillic
// one). Codes are the keymap's keycodes. False when no key gives it.
bool findKeyStroke(xkb_keymap* keymap, xkb_layout_index_t layout, xkb_keysym_t symbol,
                   KeyStroke* stroke);
