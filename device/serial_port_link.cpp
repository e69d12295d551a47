// The poll byte and the search for a line, on top of each platform's
// bounded transfers.

#include "device/device_line.h"
#include "device/serial_port.h"
#include "device/serial_port_platform.h"
#include "settings/stop_request.h"

namespace {

constexpr int lineTail = deviceLineLength - 1; // bytes after the sync byte

} // namespace

bool writePollByte() {
    const char poll = pollByte;
    int written = 0;
    bool ok = writePortBytes(&poll, 1, &written);
    return ok && written == 1;
}

bool readDeviceLine(char* line) {
    line[0] = '\0';
    if (!serialPortIsOpen()) return false;

    for (;;) {
        char byte = 0;
        int got = 0;
        if (!readPortBytes(&byte, 1, &got) || got != 1) return false;
        if (byte == syncByte) break;
        // Once a stop is asked for, any byte ends the search so that a device
        // streaming noise cannot keep the worker here.
        if (stopRequested.load()) break;
    }

    line[0] = syncByte;
    int got = 0;
    bool ok = readPortBytes(line + 1, lineTail, &got);
    if (got < 0) got = 0;
    if (got > lineTail) got = lineTail;
    line[1 + got] = '\0';
    return ok && got == lineTail;
}
