#pragma once
// The serial link to the device: one process-wide port, open or none.
//
// The worker opens, polls and reads; the window thread may close the port at
// any moment to release a worker blocked on it. Each platform file provides
// these operations (serial_port_posix.cpp, serial_port_win32.cpp).

#include "text/system_result.h"

// Opens the port named by settings.comPort (Windows: "\\.\" + name; POSIX: a
// path as given, a bare name under /dev/) at 115200 8N1 with 100 ms time-outs;
// when comDevice is set, the device it names instead (serial_device.h), and a
// failure to find it is the open's failure.
// A failure says which port and the system's words ("cannot open the serial
// port /dev/ttyUSB0: Permission denied"); its error is errno on POSIX (also
// EBUSY when another program holds the port, ENOTTY when the path is no
// terminal, EINVAL for an empty name, ENAMETOOLONG for a path too long),
// GetLastError on Windows.
SystemResult openSerialPort();

// The path openSerialPort opens for a port name (see above); false when the
// name is empty or the path does not fit size bytes.
bool serialPortPath(const char* name, char* path, int size);

// Writes the poll byte "D"; true only if exactly one byte went out.
bool writePollByte();

// Skips to the sync byte "T" and reads the 75 bytes after it in one block
// (device/line_search.h). line must hold at least 77 bytes; it always
// ends with a NUL after what arrived, and *length (when given) counts the bytes
// before it, 0 when no sync byte came. True only for a complete 76-byte line.
bool readDeviceLine(char* line, int* length = nullptr);

// Closes the port if open; safe from any thread, closes exactly once.
void closeSerialPort();

// Whether a port is open now (for tests and diagnostics).
bool serialPortIsOpen();
