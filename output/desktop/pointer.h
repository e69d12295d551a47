#pragma once
// The pointer backend: the platform operations of the air mouse, the
// primary screen's size and the monitors. pointer_win32.cpp (SetCursorPos, SendInput) and, on
// Linux, pointer_linux.cpp (XTest or a uinput device, chosen at run time);
// tests link a recording backend instead.

#include <cstdint>

// Mouse event flag words, as Windows defines them.
constexpr uint32_t mouseEventLeftDown = 0x0002, mouseEventLeftUp = 0x0004,
                   mouseEventRightDown = 0x0008, mouseEventRightUp = 0x0010,
                   mouseEventMiddleDown = 0x0020, mouseEventMiddleUp = 0x0040,
                   mouseEventWheel = 0x0800, mouseEventHWheel = 0x01000,
                   mouseEventAbsolute = 0x8000;

// Connects to the display, or makes the virtual device, where one is needed.
// False when the pointer cannot act (no X display, no /dev/uinput); every
// later call then does nothing. With the air mouse on, Linux says which way
// the pointer acts and why, or why it cannot, as a note ("pointer").
bool openPointer();
void closePointer();
bool pointerAvailable();
// The primary screen's size in pixels; false without a display.
bool readScreenSize(int32_t* width, int32_t* height);
// The monitors the cursor can reach (screen_choice.h), in the coordinates
// setCursorOrigin takes; false where they are not known.
struct MonitorList;
bool readMonitors(MonitorList* monitors);
// The same for the tools, without opening the pointer (no uinput device is
// made): what the pointer would find.
bool listMonitors(MonitorList* monitors);
// placeCursor(x, y) puts the cursor at (originX + x, originY + y) from then
// on: the air mouse's screen is the part of the desktop the origin starts.
void setCursorOrigin(int32_t originX, int32_t originY);
void placeCursor(int32_t x, int32_t y);
// Moves the cursor by (dx, dy) pixels from wherever it is, as a mouse does
// (the air mouse's relative mode): beside another mouse, both add up.
void moveCursorBy(int32_t dx, int32_t dy);
// One mouse event with the Windows flag word and wheel data (1/120 notches).
void sendMouseEvent(uint32_t flags, int32_t wheelData);
