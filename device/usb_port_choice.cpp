#include "device/usb_port_choice.h"

namespace {

void appendPort(TextBuilder& text, const UsbSerialPort& port) {
    appendUsbIdentity(text, port.vendor, port.product, port.serial);
    text.append(" (");
    text.append(port.name);
    text.append(")");
}

} // namespace

int chooseUsbSerialPort(const ComDevice& wanted, const char* text, const UsbSerialPort* ports,
                        int count, const char* narrow, TextBuilder& reason, int* matching) {
    int found = -1;
    int matches = 0;
    for (int i = 0; i < count; ++i)
        if (comDeviceMatches(wanted, ports[i].vendor, ports[i].product, ports[i].serial)) {
            found = i;
            ++matches;
        }
    *matching = matches;
    if (matches == 1) return found;
    reason.append("cannot open the serial port comDevice=");
    reason.append(text);
    if (matches == 0) {
        reason.append(": no such USB device is plugged in");
        for (int i = 0; i < count; ++i) {
            reason.append(i == 0 ? "; present: " : ", ");
            appendPort(reason, ports[i]);
        }
        if (count == 0) reason.append("; no USB serial device is present");
        return -1;
    }
    reason.append(": ");
    reason.appendInteger(matches);
    reason.append(" devices match (");
    bool first = true;
    for (int i = 0; i < count; ++i) {
        if (!comDeviceMatches(wanted, ports[i].vendor, ports[i].product, ports[i].serial)) continue;
        reason.append(first ? "" : ", ");
        first = false;
        appendPort(reason, ports[i]);
    }
    reason.append(") and none is taken: ");
    reason.append(narrow);
    return -1;
}
