// Windows pointer: the cursor call and one injected mouse record per event.
// The cursor is placed in virtual-screen coordinates, where monitors left of
// or above the primary one have negative places.
#include "output/desktop/pointer.h"

#include <windows.h>

#include <atomic>

#include "output/desktop/screen_choice.h"

namespace {

// The chosen screen's top left corner; written at a worker's start.
std::atomic<int32_t> originX{0}, originY{0};

BOOL CALLBACK addMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    MonitorList* list = reinterpret_cast<MonitorList*>(data);
    if (list->count >= maxMonitors) {
        ++list->unlisted; // counted, so that a list can say it stops
        return TRUE;
    }
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info)) return TRUE;
    const RECT& r = info.rcMonitor;
    if (info.dwFlags & MONITORINFOF_PRIMARY) list->primary = list->count;
    list->monitor[list->count++] = ScreenRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
    return TRUE;
}

} // namespace

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

bool readMonitors(MonitorList* monitors) {
    *monitors = MonitorList{};
    monitors->primary = -1;
    EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<LPARAM>(monitors));
    if (monitors->count == 0) return false;
    monitors->desktop =
        ScreenRect{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                   GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    return true;
}

bool listMonitors(MonitorList* monitors) {
    return readMonitors(monitors);
}

void setCursorOrigin(int32_t x, int32_t y) {
    originX = x;
    originY = y;
}

void placeCursor(int32_t x, int32_t y) {
    SetCursorPos(originX.load() + x, originY.load() + y);
}

// Without MOUSEEVENTF_ABSOLUTE the move passes through the system's pointer
// speed and "enhance pointer precision", as a mouse's does; relativeGain is
// the user's factor on top.
void moveCursorBy(int32_t dx, int32_t dy) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof input);
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
