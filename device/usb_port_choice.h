#pragma once
// Which of the USB serial ports present now a comDevice identity names, and
// what to tell the user when it names none or several. Portable: each
// platform lists its ports (sysfs, SetupAPI) and opens the one chosen.

#include <cstdint>

#include "settings/com_device.h"
#include "text/number_text.h"

// A USB serial port present now: its name (ttyUSB0, COM7) and USB values.
struct UsbSerialPort {
    char name[64];
    uint16_t vendor;
    uint16_t product;
    char serial[comDeviceSerialSize];
};

// The index in ports of the one port wanted names, or -1. Then *matching
// says how many matched (0 or several: none is taken, since a poll byte sent
// to the wrong device could do harm) and reason gets "cannot open the serial
// port comDevice=TEXT: …" with what is present; several end with `narrow`,
// how to name one.
int chooseUsbSerialPort(const ComDevice& wanted, const char* text, const UsbSerialPort* ports,
                        int count, const char* narrow, TextBuilder& reason, int* matching);
