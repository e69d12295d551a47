#include "settings/com_device.h"

#include <cstring>

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

bool scanUsbNumber(const char* text, uint16_t* value) {
    unsigned number = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0) return false;
        number = number * 16 + static_cast<unsigned>(digit);
    }
    if (text[4] != '\0' && text[4] != ':') return false;
    *value = static_cast<uint16_t>(number);
    return true;
}

bool parseComDevice(const char* text, ComDevice* device, TextBuilder& reason) {
    *device = ComDevice{};
    if (std::strncmp(text, "usb:", 4) != 0) return true;
    device->usb = true;
    const char* vendor = text + 4;
    const char* product = vendor + 5;
    if (std::strlen(vendor) < 9 || !scanUsbNumber(vendor, &device->vendor) || vendor[4] != ':' ||
        !scanUsbNumber(product, &device->product)) {
        reason.append("is no USB identity usb:VVVV:PPPP or usb:VVVV:PPPP:SERIAL (vendor and "
                      "product as four hexadecimal digits each, as `tolvane-config ports` "
                      "shows them)");
        return false;
    }
    if (product[4] == '\0') return true;
    const char* serial = product + 5;
    if (*serial == '\0' || std::strlen(serial) >= sizeof device->serial) {
        reason.append(*serial == '\0' ? "ends in \":\" without a serial number"
                                      : "has a serial number longer than 127 bytes");
        return false;
    }
    copyText(device->serial, sizeof device->serial, serial);
    return true;
}

bool comDeviceMatches(const ComDevice& wanted, uint16_t vendor, uint16_t product,
                      const char* serial) {
    return wanted.usb && wanted.vendor == vendor && wanted.product == product &&
           (wanted.serial[0] == '\0' || std::strcmp(wanted.serial, serial) == 0);
}

void appendUsbIdentity(TextBuilder& out, uint16_t vendor, uint16_t product, const char* serial) {
    static const char digits[] = "0123456789abcdef";
    char text[16] = "usb:";
    for (int i = 0; i < 4; ++i) {
        text[4 + i] = digits[(vendor >> (12 - 4 * i)) & 0xF];
        text[9 + i] = digits[(product >> (12 - 4 * i)) & 0xF];
    }
    text[8] = ':';
    text[13] = '\0';
    out.append(text);
    if (serial != nullptr && serial[0] != '\0') {
        out.append(":");
        out.append(serial);
    }
}
