#pragma once
// The two Linux pointer backends behind pointer.h; pointer_linux.cpp picks
// one at run time. Each mirrors pointer.h's operations.

#include <cstdint>

#include "settings/button_actions.h"

struct MonitorList;

// XTest (pointer_x11.cpp). The X screen's full size is what a uinput device
// spans under an X server; the primary monitor's is what XTest uses.
bool openX11Pointer();
void closeX11Pointer();
bool x11PointerAvailable();
bool readX11ScreenSize(int32_t* width, int32_t* height);
bool readX11RootSize(int32_t* width, int32_t* height);
// RandR's monitors, asked afresh; the X screen is their desktop.
bool readX11Monitors(MonitorList* monitors);
void setX11CursorOrigin(int32_t x, int32_t y);
void placeX11Cursor(int32_t x, int32_t y);
void moveX11Cursor(int32_t dx, int32_t dy);
void sendX11MouseEvent(uint32_t flags, int32_t wheelData);
// A key by what it gives on the layout in effect (key_layout.h), followed
// through layout changes; false where no key gives it.
bool sendX11Key(KeyId key, bool down);

// uinput (pointer_uinput.cpp). openUinputNode opens /dev/uinput (-1 with
// errno on failure); openUinputPointer makes the device on that descriptor,
// which it then owns, with axes 0..width-1 and 0..height-1, or relative:
// the relative mode's device, of moves instead (the size is the air mouse's
// scale).
int openUinputNode();
bool openUinputPointer(int fd, int32_t width, int32_t height, bool relative = false);
void closeUinputPointer();
bool uinputPointerAvailable();
bool readUinputScreenSize(int32_t* width, int32_t* height);
// The monitors the device's range spans, relative to its corner (given at
// the open; count 0: not known), and where the air mouse's screen starts.
void setUinputMonitors(const MonitorList& monitors);
bool readUinputMonitors(MonitorList* monitors);
void setUinputCursorOrigin(int32_t x, int32_t y);
void placeUinputCursor(int32_t x, int32_t y);
void moveUinputCursor(int32_t dx, int32_t dy);
void sendUinputMouseEvent(uint32_t flags, int32_t wheelData);
// Keys go through a second device, a keyboard, made on the first key (or by
// openUinputKeys) on its own /dev/uinput descriptor, so that the pointer's
// device stays the mouse that udev and the compositor take it for.
bool openUinputKeys(int fd);
void closeUinputKeys();
// A key is a place on the keyboard there: the compositor's layout makes the
// character. By KeyId, the key at its name's place on a US keyboard; by
// evdev code, any key of the main block (pointer_linux.cpp finds it on a
// named layout).
bool sendUinputKey(KeyId key, bool down);
unsigned uinputKeyCode(KeyId key);
bool sendUinputKeyCode(unsigned code, bool down);
const char* uinputKeysNode();
// The device's event node ("/dev/input/event5"), empty while there is none.
const char* uinputDeviceNode();

// The name the virtual device carries.
constexpr const char uinputDeviceName[] = "tolvane";
constexpr const char uinputRelativeName[] = "tolvane relative";
constexpr const char uinputKeysName[] = "tolvane keys";
