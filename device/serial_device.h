#pragma once
// Finds the device comDevice names (settings/com_device.h) at each open:
// a USB identity becomes the port the device has now, whatever name the
// system gave it this time. One file per platform: serial_device_linux.cpp
// (sysfs: the tty's USB parent), serial_device_win32.cpp (SetupAPI: the
// PortName of the COM port whose hardware ID and instance match).

#include "text/system_result.h"

// The path to open for comDevice's value text, into path (size bytes).
// root is "" for this machine; tests give a folder holding a fake
// sys/class/tty and dev (ignored on Windows). A failure's reason says what
// was looked for and what is there instead; its error is ENODEV when no
// device matches, ENOTUNIQ when several do (none is taken then: a poll byte
// sent to the wrong device could do harm), ENOENT for a path that is missing
// (Windows: ERROR_DEV_NOT_EXIST and ERROR_DUP_NAME; a path is not looked up).
SystemResult findSerialDevice(const char* text, const char* root, char* path, int size);
