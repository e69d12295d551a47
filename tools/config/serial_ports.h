#pragma once
// The serial ports present on this machine and what the system knows about
// each. serial_ports_linux.cpp (sysfs and /dev/serial/by-id),
// serial_ports_win32.cpp (the SERIALCOMM registry map and SetupAPI).

#include <string>
#include <vector>

struct SerialPortInfo {
    std::string name;                 // what comPort takes: ttyUSB0, COM3
    std::string path;                 // the device: /dev/ttyUSB0, \\.\COM3
    std::vector<std::string> details; // one line each: maker, product, driver, other names
    std::string accessProblem;        // why this user may not open it, with what to do; or empty
    std::string usbIdentity;          // usb:VVVV:PPPP[:SERIAL] of a USB port, else empty
    std::vector<std::string> stableNames; // /dev/serial/by-id/..., /dev/serial/by-path/...
};

// Sorted by name, numbers in names by value (ttyS2 before ttyS10).
// systemRoot is "" for this machine; tests point it at a fake tree that holds
// sys/class/tty and dev (ignored on Windows).
std::vector<SerialPortInfo> listSerialPorts(const std::string& systemRoot);

// The comDevice line that chooses ports[index] and no other port listed, with
// what it means ("comDevice=usb:0403:6001:A1 chooses this device wherever it
// is plugged in"); "" when there is none.
std::string comDeviceChoice(const std::vector<SerialPortInfo>& ports, size_t index);

// Orders names as people count: digit runs by value.
bool portNameLess(const std::string& a, const std::string& b);
