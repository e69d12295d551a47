// Windows pointer: the cursor call and one injected mouse record per event.
#include "output/pointer/pointer.h"

#include <windows.h>

bool openPointer() {
    return true;
}

void closePointer() {}

bool pointerAvailable() {
    return true;
}

bool readScreenSize(int32_t* width, int32_t* height) {
    *width = GetSystemMetrics(SM_CXSCREEN);
    *height = GetSystemMetrics(SM_CYSCREEN);
    return true;
}

void placeCursor(int32_t x, int32_t y) {
    SetCursorPos(x, y);
}

void sendMouseEvent(uint32_t flags, int32_t wheelData) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = 0;
    input.mi.dy = 0;
    input.mi.mouseData = static_cast<DWORD>(wheelData);
    input.mi.dwFlags = flags;
    input.mi.time = 0;
    input.mi.dwExtraInfo = 0;
    SendInput(1, &input, sizeof input);
}
