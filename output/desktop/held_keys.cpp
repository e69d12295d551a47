#include "output/desktop/held_keys.h"

namespace {

void hold(HeldKeys& held, uint16_t code, SendKeyCode send) {
    if (held.count[code]++ == 0) send(code, true);
}

void letGo(HeldKeys& held, uint16_t code, SendKeyCode send) {
    if (held.count[code] > 0 && --held.count[code] == 0) send(code, false);
}

} // namespace

bool pressStroke(HeldKeys& held, KeyId key, const KeyStroke& stroke, SendKeyCode send) {
    const int i = static_cast<int>(key);
    if (i <= 0 || i >= keyIdCount) return false;
    if (held.down[i] > 0) {
        if (held.down[i] < 255) ++held.down[i];
        return true;
    }
    if (stroke.key == 0 || stroke.key > 255 || stroke.modifierCount < 0 || stroke.modifierCount > 3)
        return false;
    for (int m = 0; m < stroke.modifierCount; ++m)
        if (stroke.modifier[m] == 0 || stroke.modifier[m] > 255) return false;
    for (int m = 0; m < stroke.modifierCount; ++m)
        hold(held, stroke.modifier[m], send);
    hold(held, stroke.key, send);
    held.stroke[i] = stroke;
    held.down[i] = 1;
    return true;
}

bool releaseStroke(HeldKeys& held, KeyId key, SendKeyCode send) {
    const int i = static_cast<int>(key);
    if (i <= 0 || i >= keyIdCount || held.down[i] == 0) return false;
    if (--held.down[i] > 0) return true;
    const KeyStroke& stroke = held.stroke[i];
    letGo(held, stroke.key, send);
    for (int m = stroke.modifierCount - 1; m >= 0; --m)
        letGo(held, stroke.modifier[m], send);
    return true;
}
