#include "device/serial_device.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/com_device.h"
#include "text/number_text.h"

namespace {

constexpr int maxCandidates = 32;
constexpr int pathSize = PATH_MAX;

// A USB serial port present now: its tty name and its USB values.
struct Candidate {
    char tty[64];
    uint16_t vendor;
    uint16_t product;
    char serial[comDeviceSerialSize];
};

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
int listCandidates(const char* root, Candidate* out) {
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
        Candidate& c = out[count];
        char number[16];
        readAttribute(usb, "idVendor", number, sizeof number);
        const bool vendor = scanUsbNumber(number, &c.vendor);
        readAttribute(usb, "idProduct", number, sizeof number);
        if (!vendor || !scanUsbNumber(number, &c.product)) continue;
        readAttribute(usb, "serial", c.serial, sizeof c.serial);
        copyText(c.tty, sizeof c.tty, entry->d_name);
        ++count;
    }
    closedir(dir);
    // Stable order for the notes: by name.
    std::qsort(out, static_cast<size_t>(count), sizeof *out, [](const void* a, const void* b) {
        return std::strcmp(static_cast<const Candidate*>(a)->tty,
                           static_cast<const Candidate*>(b)->tty);
    });
    return count;
}

void appendCandidate(TextBuilder& text, const Candidate& c) {
    appendUsbIdentity(text, c.vendor, c.product, c.serial);
    text.append(" (");
    text.append(c.tty);
    text.append(")");
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

    Candidate candidates[maxCandidates];
    const int count = listCandidates(root, candidates);
    int matches[maxCandidates];
    int matchCount = 0;
    for (int i = 0; i < count; ++i)
        if (comDeviceMatches(wanted, candidates[i].vendor, candidates[i].product,
                             candidates[i].serial))
            matches[matchCount++] = i;

    if (matchCount == 1) {
        TextBuilder out(path, static_cast<size_t>(size));
        out.append(root);
        out.append("/dev/");
        out.append(candidates[matches[0]].tty);
        if (!out.overflow) return SystemResult{};
    }
    SystemResult result = failure(matchCount == 0 ? ENODEV : ENOTUNIQ);
    TextBuilder reason(result.reason, sizeof result.reason);
    reason.append("cannot open the serial port comDevice=");
    reason.append(text);
    if (matchCount == 0) {
        reason.append(": no such USB device is plugged in");
        for (int i = 0; i < count; ++i) {
            reason.append(i == 0 ? "; present: " : ", ");
            appendCandidate(reason, candidates[i]);
        }
        if (count == 0) reason.append("; no USB serial device is present");
        return result;
    }
    reason.append(": ");
    reason.appendInteger(matchCount);
    reason.append(" devices match (");
    for (int i = 0; i < matchCount; ++i) {
        reason.append(i == 0 ? "" : ", ");
        appendCandidate(reason, candidates[matches[i]]);
    }
    reason.append(") and none is taken: name one by its serial number or by its "
                  "/dev/serial/by-path name");
    return result;
}
