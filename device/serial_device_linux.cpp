#include "device/serial_device.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/usb_port_choice.h"
#include "settings/com_device.h"
#include "text/number_text.h"

namespace {

constexpr int maxCandidates = 32;
constexpr int pathSize = PATH_MAX;

// a + b + c + d into out (pathSize bytes); false when it does not fit.
bool joinPath(char* out, const char* a, const char* b, const char* c = "", const char* d = "") {
    TextBuilder text(out, pathSize);
    text.append(a);
    text.append(b);
    text.append(c);
    text.append(d);
    return !text.overflow;
}

// The first line of a sysfs attribute, or "" when there is none.
void readAttribute(const char* folder, const char* name, char* out, int size) {
    char path[pathSize];
    out[0] = '\0';
    if (!joinPath(path, folder, "/", name)) return;
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return;
    if (std::fgets(out, size, file) == nullptr) out[0] = '\0';
    std::fclose(file);
    out[std::strcspn(out, "\r\n")] = '\0';
}

// The nearest folder above a tty's device that has an idVendor: the USB
// device of an adapter's port or of a CDC ACM interface.
bool usbDeviceOf(const char* device, const char* sysRoot, char* folder) {
    char* real = realpath(device, nullptr);
    if (real == nullptr) return false;
    copyText(folder, pathSize, real);
    std::free(real);
    const size_t rootLength = std::strlen(sysRoot);
    for (int level = 0; level < 8 && std::strlen(folder) > rootLength; ++level) {
        char probe[pathSize];
        struct stat s {};
        if (joinPath(probe, folder, "/idVendor") && stat(probe, &s) == 0) return true;
        char* slash = std::strrchr(folder, '/');
        if (slash == nullptr) break;
        *slash = '\0';
    }
    return false;
}

// Every tty with a USB device behind it, in the order the folder lists them.
int listCandidates(const char* root, UsbSerialPort* out) {
    char sysRoot[pathSize], classFolder[pathSize];
    if (!joinPath(sysRoot, root, "/sys") || !joinPath(classFolder, root, "/sys/class/tty"))
        return 0;
    char* realRoot = realpath(sysRoot, nullptr);
    if (realRoot != nullptr) {
        copyText(sysRoot, sizeof sysRoot, realRoot);
        std::free(realRoot);
    }
    DIR* dir = opendir(classFolder);
    if (dir == nullptr) return 0;
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.' || count == maxCandidates) continue;
        char device[pathSize], usb[pathSize];
        if (!joinPath(device, classFolder, "/", entry->d_name, "/device") ||
            !usbDeviceOf(device, sysRoot, usb))
            continue;
        UsbSerialPort& c = out[count];
        char number[16];
        readAttribute(usb, "idVendor", number, sizeof number);
        const bool vendor = scanUsbNumber(number, &c.vendor);
        readAttribute(usb, "idProduct", number, sizeof number);
        if (!vendor || !scanUsbNumber(number, &c.product)) continue;
        readAttribute(usb, "serial", c.serial, sizeof c.serial);
        copyText(c.name, sizeof c.name, entry->d_name);
        ++count;
    }
    closedir(dir);
    // Stable order for the notes: by name.
    std::qsort(out, static_cast<size_t>(count), sizeof *out, [](const void* a, const void* b) {
        return std::strcmp(static_cast<const UsbSerialPort*>(a)->name,
                           static_cast<const UsbSerialPort*>(b)->name);
    });
    return count;
}

SystemResult failure(int error) {
    return SystemResult{false, error, ""};
}

// The stable names present, as what was found instead of a missing path.
void appendStableNames(TextBuilder& text, const char* root) {
    char folder[pathSize];
    DIR* dir = joinPath(folder, root, "/dev/serial/by-id") ? opendir(folder) : nullptr;
    int said = 0;
    if (dir != nullptr) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            text.append(said++ == 0 ? "; present: /dev/serial/by-id/" : ", /dev/serial/by-id/");
            text.append(entry->d_name);
        }
        closedir(dir);
    }
    if (said == 0) text.append("; no /dev/serial/by-id names are present (no USB serial device)");
}

SystemResult findByPath(const char* text, const char* root, char* path, int size) {
    TextBuilder out(path, static_cast<size_t>(size));
    out.append(root);
    if (std::strchr(text, '/') == nullptr) out.append("/dev/");
    out.append(text);
    SystemResult result = failure(ENAMETOOLONG);
    TextBuilder reason(result.reason, sizeof result.reason);
    if (out.overflow) {
        reason.append("cannot open the serial port comDevice=");
        reason.append(text);
        reason.append(": the path is too long");
        return result;
    }
    struct stat s {};
    if (stat(path, &s) == 0) return SystemResult{};
    // Let the open say what is wrong with a path that is there but unreadable.
    if (errno != ENOENT && errno != ENOTDIR) return SystemResult{};
    result.error = ENOENT;
    reason.append("cannot open the serial port comDevice=");
    reason.append(text);
    reason.append(": no such device is present");
    appendStableNames(reason, root);
    return result;
}

} // namespace

SystemResult findSerialDevice(const char* text, const char* root, char* path, int size) {
    ComDevice wanted;
    SystemResult bad = failure(EINVAL);
    TextBuilder why(bad.reason, sizeof bad.reason);
    why.append("cannot open the serial port: comDevice=");
    why.append(text);
    why.append(" ");
    if (!parseComDevice(text, &wanted, why)) return bad;
    if (!wanted.usb) return findByPath(text, root, path, size);

    UsbSerialPort candidates[maxCandidates];
    const int count = listCandidates(root, candidates);
    SystemResult result = failure(ENODEV);
    TextBuilder reason(result.reason, sizeof result.reason);
    int matching = 0;
    const int chosen = chooseUsbSerialPort(
        wanted, text, candidates, count,
        "name one by its serial number or by its /dev/serial/by-path name", reason, &matching);
    if (chosen < 0) {
        result.error = matching == 0 ? ENODEV : ENOTUNIQ;
        return result;
    }
    TextBuilder out(path, static_cast<size_t>(size));
    out.append(root);
    out.append("/dev/");
    out.append(candidates[chosen].name);
    if (!out.overflow) return SystemResult{};
    result.error = ENAMETOOLONG;
    reason.append("cannot open the serial port comDevice=");
    reason.append(text);
    reason.append(": the path is too long");
    return result;
}
