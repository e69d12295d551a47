#include "tools/config/serial_ports.h"

#include <cstddef>

namespace {

// Ports whose identity is this one (exact) or of this kind (usb:VVVV:PPPP).
size_t countIdentity(const std::vector<SerialPortInfo>& ports, const std::string& identity,
                     bool kind) {
    size_t count = 0;
    for (const SerialPortInfo& port : ports)
        count += port.usbIdentity == identity ||
                 (kind && port.usbIdentity.compare(0, identity.size() + 1, identity + ":") == 0);
    return count;
}

std::string stableName(const SerialPortInfo& port, const char* folder) {
    for (const std::string& name : port.stableNames)
        if (name.find(folder) != std::string::npos) return name;
    return "";
}

} // namespace

std::string comDeviceChoice(const std::vector<SerialPortInfo>& ports, size_t index) {
    const SerialPortInfo& port = ports[index];
    const std::string& identity = port.usbIdentity;
    const std::string kind = identity.substr(0, 13);
    if (!identity.empty() && countIdentity(ports, identity, false) == 1) {
        std::string line =
            "comDevice=" + identity + " chooses this device wherever it is plugged in";
        if (kind != identity && countIdentity(ports, kind, true) == 1)
            line += " (" + kind + " too, while it is the only one of its kind)";
        return line;
    }
    // Several ports alike: the interface's by-id name tells the ports of one
    // device with a serial number apart; without a serial number only the
    // socket it is plugged into does.
    const std::string byId = stableName(port, "/by-id/");
    const std::string byPath = stableName(port, "/by-path/");
    if (!byId.empty() && (identity.size() > kind.size() || byPath.empty()))
        return "comDevice=" + byId + " chooses this port of this device";
    if (!byPath.empty())
        return "comDevice=" + byPath + " chooses whatever is plugged into this USB socket";
    return "";
}

bool portNameLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            size_t endA = i, endB = j;
            while (endA < a.size() && a[endA] == '0')
                ++endA;
            while (endB < b.size() && b[endB] == '0')
                ++endB;
            size_t startA = endA, startB = endB;
            while (endA < a.size() && digit(a[endA]))
                ++endA;
            while (endB < b.size() && digit(b[endB]))
                ++endB;
            // Without leading zeros the longer run is the larger number.
            if (endA - startA != endB - startB) return endA - startA < endB - startB;
            const int order = a.compare(startA, endA - startA, b, startB, endB - startB);
            if (order != 0) return order < 0;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}
