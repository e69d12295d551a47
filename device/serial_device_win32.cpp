#include "device/serial_device.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstring>

#include "device/usb_port_choice.h"
#include "settings/com_device.h"
#include "text/number_text.h"

namespace {

// The COM port device interface class (GUID_DEVINTERFACE_COMPORT).
const GUID comPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

constexpr int maxCandidates = 32;

// The four hexadecimal digits after key ("VID_") in an ID, either case.
bool idNumber(const char* id, const char* key, uint16_t* value) {
    for (const char* p = id; *p != '\0'; ++p)
        if (_strnicmp(p, key, 4) == 0) {
            char digits[5];
            copyText(digits, sizeof digits, p + 4);
            return scanUsbNumber(digits, value);
        }
    return false;
}

// The serial number in an instance ID: its last part, unless the system
// made that part up (it then holds "&"). FTDI's own driver puts the number,
// with the port's letter after it, between plus signs instead.
void serialOf(const char* instance, char* serial) {
    serial[0] = '\0';
    const char* last = std::strrchr(instance, '\\');
    if (std::strchr(instance, '+') != nullptr) {
        const char* first = std::strchr(instance, '+');
        const char* second = std::strchr(first + 1, '+');
        if (second == nullptr) return;
        copyText(serial, comDeviceSerialSize, second + 1);
        serial[std::strcspn(serial, "\\")] = '\0';
        const size_t length = std::strlen(serial);
        if (length > 1 && serial[length - 1] == 'A') serial[length - 1] = '\0';
        return;
    }
    if (last == nullptr || std::strchr(last, '&') != nullptr) return;
    copyText(serial, comDeviceSerialSize, last + 1);
}

int listCandidates(UsbSerialPort* out) {
    HDEVINFO set = SetupDiGetClassDevsA(&comPortInterface, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; count < maxCandidates && SetupDiEnumDeviceInfo(set, index, &device);
         ++index) {
        char hardwareId[512] = "";
        DWORD type = 0;
        if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, &type,
                                               reinterpret_cast<BYTE*>(hardwareId),
                                               sizeof hardwareId - 1, nullptr))
            continue;
        UsbSerialPort& c = out[count];
        if (!idNumber(hardwareId, "VID_", &c.vendor) || !idNumber(hardwareId, "PID_", &c.product))
            continue;
        // One interface of a composite device: the serial number is its parent's.
        DEVINST holder = device.DevInst;
        DEVINST parent = 0;
        if (std::strstr(hardwareId, "MI_") != nullptr &&
            CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS)
            holder = parent;
        char instance[512] = "";
        if (CM_Get_Device_IDA(holder, instance, sizeof instance, 0) != CR_SUCCESS) instance[0] = 0;
        serialOf(instance, c.serial);
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        DWORD size = sizeof c.name - 1;
        const bool named =
            RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(c.name),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ;
        RegCloseKey(key);
        if (!named) continue;
        c.name[size < sizeof c.name ? size : sizeof c.name - 1] = '\0';
        ++count;
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}

} // namespace

SystemResult findSerialDevice(const char* text, const char*, char* path, int size) {
    ComDevice wanted;
    char ignored[8];
    TextBuilder unused(ignored, sizeof ignored);
    TextBuilder out(path, static_cast<size_t>(size));
    SystemResult result{false, ERROR_FILENAME_EXCED_RANGE, ""};
    TextBuilder reason(result.reason, sizeof result.reason);
    if (!parseComDevice(text, &wanted, unused) || !wanted.usb) {
        // A device path is used as given, a port name as comPort's is.
        if (std::strncmp(text, "\\\\", 2) != 0) out.append("\\\\.\\");
        out.append(text);
        if (!out.overflow) return SystemResult{};
        reason.append("cannot open the serial port comDevice=");
        reason.append(text);
        reason.append(": the path is too long");
        return result;
    }

    UsbSerialPort candidates[maxCandidates];
    const int count = listCandidates(candidates);
    int matching = 0;
    const int chosen = chooseUsbSerialPort(wanted, text, candidates, count,
                                           "name one by its serial number", reason, &matching);
    if (chosen < 0) {
        result.error = matching == 0 ? ERROR_DEV_NOT_EXIST : ERROR_DUP_NAME;
        return result;
    }
    out.append("\\\\.\\");
    out.append(candidates[chosen].name);
    if (!out.overflow) return SystemResult{};
    reason.append("cannot open the serial port comDevice=");
    reason.append(text);
    reason.append(": the path is too long");
    return result;
}
