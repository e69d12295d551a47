#include "tools/config/serial_ports.h"

#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "settings/com_device.h"
#include "text/number_text.h"

namespace {

// The device setup class of serial and parallel ports.
const GUID portsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

SerialPortInfo& portNamed(std::vector<SerialPortInfo>& ports, const std::string& name) {
    for (SerialPortInfo& port : ports)
        if (_stricmp(port.name.c_str(), name.c_str()) == 0) return port;
    SerialPortInfo port;
    port.name = name;
    port.path = "\\\\.\\" + name;
    ports.push_back(port);
    return ports.back();
}

std::string property(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD which) {
    char text[512] = "";
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, device, which, &type, reinterpret_cast<BYTE*>(text),
                                           sizeof text - 1, nullptr))
        return "";
    text[sizeof text - 1] = '\0';
    return text; // of a list, the first entry
}

// "USB\VID_0403&PID_6001&REV_0600" -> "USB 0403:6001"; "" for other buses.
std::string usbIds(const std::string& hardwareId) {
    const size_t vid = hardwareId.find("VID_");
    const size_t pid = hardwareId.find("PID_");
    if (vid == std::string::npos || pid == std::string::npos) return "";
    return "USB " + hardwareId.substr(vid + 4, 4) + ":" + hardwareId.substr(pid + 4, 4);
}

// usb:VVVV:PPPP and the serial number when the instance ID holds one (its
// last part, which the system makes up, with "&" in it, for a device without).
std::string usbIdentity(const std::string& hardwareId, HDEVINFO set, SP_DEVINFO_DATA* device) {
    const size_t vid = hardwareId.find("VID_");
    const size_t pid = hardwareId.find("PID_");
    uint16_t vendor = 0, product = 0;
    if (vid == std::string::npos || pid == std::string::npos ||
        !scanUsbNumber(hardwareId.substr(vid + 4, 4).c_str(), &vendor) ||
        !scanUsbNumber(hardwareId.substr(pid + 4, 4).c_str(), &product))
        return "";
    char instance[512] = "";
    std::string serial;
    if (hardwareId.find("MI_") == std::string::npos &&
        SetupDiGetDeviceInstanceIdA(set, device, instance, sizeof instance, nullptr)) {
        const char* last = std::strrchr(instance, '\\');
        if (last != nullptr && std::strchr(last, '&') == nullptr &&
            std::strchr(instance, '+') == nullptr)
            serial = last + 1;
    }
    char identity[comDeviceSize];
    TextBuilder text(identity, sizeof identity);
    appendUsbIdentity(text, vendor, product, serial.c_str());
    return identity;
}

} // namespace

std::vector<SerialPortInfo> listSerialPorts(const std::string&) {
    std::vector<SerialPortInfo> ports;

    // Every port a driver has started, as "device name" -> "COMn".
    HKEY map = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &map) ==
        ERROR_SUCCESS) {
        for (DWORD index = 0;; ++index) {
            char device[256];
            DWORD deviceSize = sizeof device;
            char name[64] = "";
            DWORD nameSize = sizeof name - 1;
            DWORD type = 0;
            LONG result = RegEnumValueA(map, index, device, &deviceSize, nullptr, &type,
                                        reinterpret_cast<BYTE*>(name), &nameSize);
            if (result == ERROR_NO_MORE_ITEMS) break;
            if (result != ERROR_SUCCESS || type != REG_SZ) continue;
            name[nameSize < sizeof name ? nameSize : sizeof name - 1] = '\0';
            SerialPortInfo& port = portNamed(ports, name);
            port.details.push_back(std::string("driver device ") + device);
        }
        RegCloseKey(map);
    }

    // What Device Manager shows: the friendly name, the maker, the USB ids.
    HDEVINFO set = SetupDiGetClassDevsA(&portsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
            HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            if (key == INVALID_HANDLE_VALUE) continue;
            char name[64] = "";
            DWORD size = sizeof name - 1;
            DWORD type = 0;
            const bool named =
                RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                                 &size) == ERROR_SUCCESS &&
                type == REG_SZ;
            RegCloseKey(key);
            if (!named || std::strncmp(name, "COM", 3) != 0) continue; // LPT ports share the class
            SerialPortInfo& port = portNamed(ports, name);
            const std::string friendly = property(set, &device, SPDRP_FRIENDLYNAME);
            const std::string maker = property(set, &device, SPDRP_MFG);
            const std::string hardwareId = property(set, &device, SPDRP_HARDWAREID);
            const std::string ids = usbIds(hardwareId);
            port.usbIdentity = usbIdentity(hardwareId, set, &device);
            if (!friendly.empty()) port.details.insert(port.details.begin(), friendly);
            std::string line = ids;
            if (!maker.empty())
                line += (line.empty() ? "" : ", ") + std::string("made by ") + maker;
            if (!line.empty()) port.details.push_back(line);
        }
        SetupDiDestroyDeviceInfoList(set);
    }

    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return portNameLess(a.name, b.name);
    });
    return ports;
}
