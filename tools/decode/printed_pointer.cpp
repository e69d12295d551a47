// The decoder's pointer backend: instead of moving a pointer it keeps what the
// air mouse did for the current device line, so that it can be printed.
#include "tools/decode/printed_pointer.h"

#include "output/desktop/keys.h"
#include "output/desktop/pointer.h"
#include "text/number_text.h"

PointerActions pointerActions;

namespace {

void note(const char* text) {
    TextBuilder out(pointerActions.events + pointerActions.eventsLength,
                    sizeof pointerActions.events - pointerActions.eventsLength);
    if (pointerActions.eventsLength > 0) out.append(", ");
    out.append(text);
    pointerActions.eventsLength += out.length;
}

} // namespace

void clearPointerActions() {
    pointerActions.placed = false;
    pointerActions.moved = false;
    pointerActions.dx = pointerActions.dy = 0;
    pointerActions.events[0] = '\0';
    pointerActions.eventsLength = 0;
}

bool openPointer() {
    return true;
}

void closePointer() {}

bool pointerAvailable() {
    return true;
}

bool readScreenSize(int32_t*, int32_t*) {
    return false; // the size comes from --cursor
}

// The screen is the one --cursor gives, with no monitors around it.
bool readMonitors(MonitorList*) {
    return false;
}

void setCursorOrigin(int32_t, int32_t) {}

void placeCursor(int32_t x, int32_t y) {
    pointerActions.placed = true;
    pointerActions.x = x;
    pointerActions.y = y;
}

void moveCursorBy(int32_t dx, int32_t dy) {
    pointerActions.moved = true;
    pointerActions.dx += dx;
    pointerActions.dy += dy;
}

void sendMouseEvent(uint32_t flags, int32_t wheelData) {
    if (flags & mouseEventLeftDown) note("left down");
    if (flags & mouseEventLeftUp) note("left up");
    if (flags & mouseEventRightDown) note("right down");
    if (flags & mouseEventRightUp) note("right up");
    if (flags & mouseEventMiddleDown) note("middle down");
    if (flags & mouseEventMiddleUp) note("middle up");
    if (flags & (mouseEventWheel | mouseEventHWheel)) {
        char text[32];
        TextBuilder wheel(text, sizeof text);
        wheel.append(flags & mouseEventHWheel ? "hwheel " : "wheel ");
        wheel.append(wheelData >= 0 ? "+" : "");
        wheel.appendInteger(wheelData);
        note(text);
    }
}

bool sendKey(KeyId key, bool down) {
    char text[32];
    TextBuilder out(text, sizeof text);
    out.append("key ");
    out.append(keyName(key));
    out.append(down ? " down" : " up");
    note(text);
    return true;
}
