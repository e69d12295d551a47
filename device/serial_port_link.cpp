// The poll byte and the line search, on top of each platform's bounded
// transfers.

#include "device/device_line.h"
#include "device/line_search.h"
#include "device/serial_port.h"
#include "device/serial_port_platform.h"
#include "settings/stop_request.h"

namespace {

bool readFromPort(void*, char* out, int count, int* got) {
    return readPortBytes(out, count, got);
}

} // namespace

bool writePollByte() {
    const char poll = pollByte;
    int written = 0;
    bool ok = writePortBytes(&poll, 1, &written);
    return ok && written == 1;
}

bool readDeviceLine(char* line, int* length) {
    line[0] = '\0';
    if (length != nullptr) *length = 0;
    if (!serialPortIsOpen()) return false;
    const FoundLine found = searchDeviceLine(readFromPort, nullptr, &stopRequested, line);
    if (length != nullptr) *length = found.length;
    return found.complete;
}
