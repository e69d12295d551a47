// The serial link on Windows: CreateFileA on "\\.\" + name, the line settings
// written into the port's own DCB, and COMMTIMEOUTS that bound every transfer.
//
// Closing from another thread: the closer takes the handle (leaving none),
// cancels the transfer the worker may have in progress, and closes the handle
// only when no transfer uses it any more, so a handle value is never used after
// CloseHandle has given it back (Windows reuses handle values). Should the
// cancel not reach the transfer, its own 100 ms time-out still ends it.

#include "device/serial_port.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "device/serial_device.h"
#include "device/serial_port_platform.h"
#include "settings/settings.h"
#include "text/number_text.h"

// The port of the process, or INVALID_HANDLE_VALUE for none.
std::atomic<HANDLE> serialPort{INVALID_HANDLE_VALUE};

namespace {

std::mutex portMutex;
std::condition_variable portChanged;
int portUsers = 0;        // transfers in progress on serialPort
int closesInProgress = 0; // closes that have taken a handle but not closed it yet

HANDLE beginUse() {
    std::lock_guard<std::mutex> lock(portMutex);
    HANDLE port = serialPort.load();
    if (port != INVALID_HANDLE_VALUE) ++portUsers;
    return port;
}

void endUse() {
    std::lock_guard<std::mutex> lock(portMutex);
    if (--portUsers == 0) portChanged.notify_all();
}

void applyLineSettings(HANDLE port) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    // Everything not set here stays as the port reports it; a port that
    // reports nothing is not written a made-up state.
    if (GetCommState(port, &dcb)) {
        dcb.BaudRate = CBR_115200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        (void)SetCommState(port, &dcb);
    }
    // A read returns when all bytes are in or 100 ms after it began; a write
    // gives up after 100 ms.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 100;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 100;
    (void)SetCommTimeouts(port, &timeouts);
}

} // namespace

bool readPortBytes(char* data, int size, int* count) {
    *count = 0;
    HANDLE port = beginUse();
    if (port == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    BOOL ok = ReadFile(port, data, static_cast<DWORD>(size), &done, nullptr);
    endUse();
    *count = static_cast<int>(done);
    return ok != FALSE;
}

bool writePortBytes(const char* data, int size, int* count) {
    *count = 0;
    HANDLE port = beginUse();
    if (port == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    BOOL ok = WriteFile(port, data, static_cast<DWORD>(size), &done, nullptr);
    endUse();
    *count = static_cast<int>(done);
    return ok != FALSE;
}

bool serialPortPath(const char* name, char* path, int size) {
    if (name[0] == '\0' || size <= 0) return false;
    TextBuilder text(path, static_cast<size_t>(size));
    text.append("\\\\.\\");
    text.append(name);
    return !text.overflow;
}

namespace {

// The failure of an open of the port named name, in the system's words.
SystemResult openFailure(const char* name, DWORD error) {
    SystemResult result{false, static_cast<int>(error), ""};
    TextBuilder text(result.reason, sizeof result.reason);
    text.append("cannot open the serial port ");
    text.append(name[0] != '\0' ? name : "(empty name)");
    text.append(": ");
    char words[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, words, sizeof words, nullptr);
    // The system's text ends in a full stop and a line end.
    while (length > 0 && (words[length - 1] == '\r' || words[length - 1] == '\n' ||
                          words[length - 1] == ' ' || words[length - 1] == '.'))
        --length;
    words[length] = '\0';
    if (length > 0) {
        text.append(words);
    } else {
        text.append("system error ");
        text.appendInteger(static_cast<long long>(error));
    }
    return result;
}

} // namespace

SystemResult openSerialPort() {
    // A second open must not lose the handle of the first.
    closeSerialPort();

    // comDevice, when set, names the device instead of comPort; it is found
    // afresh at every open, so a replug under another COM number is followed.
    char device[comDeviceSize];
    getComDevice(device);
    char name[comPortSize];
    getComPort(name);
    char path[comDeviceSize + 8];
    if (device[0] != '\0') {
        const SystemResult found = findSerialDevice(device, "", path, sizeof path);
        if (!found) return found;
    } else {
        TextBuilder text(path, sizeof path);
        text.append("\\\\.\\");
        text.append(name);
    }
    HANDLE port =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return openFailure(device[0] != '\0' ? path : name, GetLastError());
    applyLineSettings(port);

    std::unique_lock<std::mutex> lock(portMutex);
    portChanged.wait(lock, [] { return closesInProgress == 0; });
    serialPort.store(port);
    return SystemResult{};
}

void closeSerialPort() {
    HANDLE port;
    {
        std::lock_guard<std::mutex> lock(portMutex);
        port = serialPort.exchange(INVALID_HANDLE_VALUE);
        if (port == INVALID_HANDLE_VALUE) return;
        ++closesInProgress;
    }
    {
        std::unique_lock<std::mutex> lock(portMutex);
        // The worker may enter its transfer just after a cancel; cancel again
        // until it has left.
        while (portUsers > 0) {
            (void)CancelIoEx(port, nullptr);
            portChanged.wait_for(lock, std::chrono::milliseconds(5));
        }
    }
    CloseHandle(port);
    {
        std::lock_guard<std::mutex> lock(portMutex);
        --closesInProgress;
        portChanged.notify_all();
    }
}

bool serialPortIsOpen() {
    return serialPort.load() != INVALID_HANDLE_VALUE;
}
