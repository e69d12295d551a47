#pragma once
// What comDevice names: the device itself instead of comPort's name, which
// the system hands out in the order devices appear. Either a path (a stable
// /dev/serial/by-id name, any device path, or on Windows a port name) or a
// USB identity, usb:VVVV:PPPP or usb:VVVV:PPPP:SERIAL.

#include <cstdint>

#include "text/number_text.h"

constexpr int comDeviceSize = 256; // the value, and the NUL
constexpr int comDeviceSerialSize = 128;

struct ComDevice {
    bool usb = false; // else a path
    uint16_t vendor = 0;
    uint16_t product = 0;
    char serial[comDeviceSerialSize] = ""; // "": any serial number
};

// Reads a non-empty comDevice value; false with the reason when a value that
// begins with "usb:" is no such identity (a path is taken as it is).
bool parseComDevice(const char* text, ComDevice* device, TextBuilder& reason);

// Whether a device with these USB values is the one named; the serial number
// compared exactly, the hexadecimal numbers by value.
bool comDeviceMatches(const ComDevice& wanted, uint16_t vendor, uint16_t product,
                      const char* serial);

// "usb:0403:6001" and, with a serial number, ":A12345" after it.
void appendUsbIdentity(TextBuilder& out, uint16_t vendor, uint16_t product, const char* serial);

// Four hexadecimal digits, either case; false for anything else.
bool scanUsbNumber(const char* text, uint16_t* value);
