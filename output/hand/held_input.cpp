#include "output/hand/held_input.h"

#include "output/desktop/keys.h"
#include "output/desktop/pointer.h"
#include "settings/settings.h"

namespace {

constexpr int mouseButtons = 3; // left, right, middle
constexpr uint32_t downFlags[mouseButtons] = {mouseEventLeftDown, mouseEventRightDown,
                                              mouseEventMiddleDown};
constexpr uint32_t upFlags[mouseButtons] = {mouseEventLeftUp, mouseEventRightUp,
                                            mouseEventMiddleUp};
constexpr int keyCapacity = 16;

// The platform keeps one state per button and key, not a count: a second
// down changes nothing, and the first up lets go.
struct HeldInput {
    bool mouse[mouseButtons];
    KeyId keys[keyCapacity]; // in the order pressed
    int keyCount;
};

HeldInput held{};

void forgetKey(KeyId key) {
    int to = 0;
    for (int i = 0; i < held.keyCount; ++i)
        if (held.keys[i] != key) held.keys[to++] = held.keys[i];
    held.keyCount = to;
}

} // namespace

void sendHeldMouseEvent(uint32_t flags, int32_t wheelData) {
    // Beside relative moves a record marked absolute (even one without a
    // move) reads to some games as a jump to the corner.
    if (settings.pointerMode.load() == PointerMode::relative) flags &= ~mouseEventAbsolute;
    sendMouseEvent(flags, wheelData);
    for (int b = 0; b < mouseButtons; ++b) {
        if (flags & downFlags[b]) held.mouse[b] = true;
        if (flags & upFlags[b]) held.mouse[b] = false;
    }
}

bool sendHeldKey(KeyId key, bool down) {
    const bool sent = sendKey(key, down);
    // A key up that the platform refused is forgotten all the same: there is
    // nothing better to do with it, and the release must end.
    forgetKey(key);
    if (sent && down && held.keyCount < keyCapacity) held.keys[held.keyCount++] = key;
    return sent;
}

bool inputHeld() {
    if (held.keyCount > 0) return true;
    for (bool down : held.mouse)
        if (down) return true;
    return false;
}

bool releaseHeldInput() {
    const bool any = inputHeld();
    while (held.keyCount > 0)
        sendHeldKey(held.keys[held.keyCount - 1], false);
    for (int b = 0; b < mouseButtons; ++b)
        if (held.mouse[b]) sendHeldMouseEvent(mouseEventAbsolute | upFlags[b], 0);
    return any;
}
