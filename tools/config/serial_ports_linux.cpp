#include "tools/config/serial_ports.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/com_device.h"
#include "text/number_text.h"

namespace {

// The first line of a sysfs attribute, or "" when there is none.
std::string attribute(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return "";
    char line[256] = "";
    if (std::fgets(line, sizeof line, file) == nullptr) line[0] = '\0';
    std::fclose(file);
    line[std::strcspn(line, "\r\n")] = '\0';
    return line;
}

bool exists(const std::string& path) {
    struct stat s {};
    return lstat(path.c_str(), &s) == 0;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string linkTarget(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) return "";
    target[n] = '\0';
    return target;
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (dirent* e = readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    closedir(dir);
    return names;
}

// The USB device a tty hangs off: the nearest folder above its device that
// has an idVendor (a USB serial adapter's port, or a CDC ACM interface).
std::string usbDeviceOf(const std::string& device, const std::string& sysRoot) {
    char* real = realpath(device.c_str(), nullptr);
    if (real == nullptr) return "";
    std::string folder = real;
    std::free(real);
    for (int level = 0; level < 8 && folder.size() > sysRoot.size(); ++level) {
        if (exists(folder + "/idVendor")) return folder;
        folder = folder.substr(0, folder.rfind('/'));
    }
    return "";
}

void describeUsb(const std::string& usb, SerialPortInfo* port) {
    std::string line = "USB " + attribute(usb + "/idVendor") + ":" + attribute(usb + "/idProduct");
    const std::string maker = attribute(usb + "/manufacturer");
    const std::string product = attribute(usb + "/product");
    const std::string serial = attribute(usb + "/serial");
    if (!maker.empty()) line += ", " + maker;
    if (!product.empty()) line += ", " + product;
    if (!serial.empty()) line += ", serial number " + serial;
    port->details.push_back(line);
    uint16_t vendorId = 0, productId = 0;
    if (scanUsbNumber(attribute(usb + "/idVendor").c_str(), &vendorId) &&
        scanUsbNumber(attribute(usb + "/idProduct").c_str(), &productId)) {
        char identity[comDeviceSize];
        TextBuilder text(identity, sizeof identity);
        appendUsbIdentity(text, vendorId, productId, serial.c_str());
        port->usbIdentity = identity;
    }
}

// Whether this user may open the device, and if not what to do about it.
std::string accessProblem(const std::string& node) {
    if (access(node.c_str(), R_OK | W_OK) == 0) return "";
    struct stat s {};
    if (stat(node.c_str(), &s) != 0) return "the device file " + node + " is missing";
    const group* owner = getgrgid(s.st_gid);
    if (owner == nullptr || s.st_gid == 0 || (s.st_mode & 060) != 060)
        return "you may not open it (only its owner may)";
    const std::string group = owner->gr_name;
    // Listed as a member already, but this session started before that.
    const passwd* me = getpwuid(getuid());
    if (me != nullptr)
        for (char** member = owner->gr_mem; *member != nullptr; ++member)
            if (std::strcmp(*member, me->pw_name) == 0)
                return "you are in group " + group +
                       " but this session started before: log out and in again (or run "
                       "'newgrp " +
                       group + "')";
    return "you may not open it: it belongs to group " + group +
           "; join it with 'sudo usermod -aG " + group + " $USER', then log out and in again";
}

} // namespace

std::vector<SerialPortInfo> listSerialPorts(const std::string& systemRoot) {
    const std::string sysRoot = systemRoot + "/sys";
    const std::string classFolder = sysRoot + "/class/tty";

    std::vector<SerialPortInfo> ports;
    for (const std::string& name : entries(classFolder)) {
        const std::string tty = classFolder + "/" + name;
        // Consoles and virtual terminals have no device behind them.
        if (!exists(tty + "/device")) continue;
        // A UART slot the kernel reserves but found no chip for.
        if (attribute(tty + "/type") == "0") continue;

        SerialPortInfo port;
        port.name = name;
        port.path = "/dev/" + name;
        const std::string usb = usbDeviceOf(tty + "/device", sysRoot);
        if (!usb.empty()) {
            describeUsb(usb, &port);
            const std::string driver = baseName(linkTarget(tty + "/device/driver"));
            if (!driver.empty()) port.details.push_back("driver " + driver);
        } else if (exists(tty + "/type")) {
            port.details.push_back("a serial port of the machine itself (UART)");
        }
        ports.push_back(port);
    }

    // The names udev gives a port by maker, product and serial number stay
    // the same whichever order the adapters were plugged in.
    // The names by socket stay with the USB socket whatever is plugged in.
    for (const char* folder : {"/dev/serial/by-id", "/dev/serial/by-path"}) {
        std::vector<std::string> links = entries(systemRoot + folder);
        std::sort(links.begin(), links.end());
        for (const std::string& link : links) {
            const std::string target = baseName(linkTarget(systemRoot + folder + "/" + link));
            for (SerialPortInfo& port : ports)
                if (port.name == target) {
                    port.details.push_back("also " + std::string(folder) + "/" + link);
                    port.stableNames.push_back(std::string(folder) + "/" + link);
                }
        }
    }

    for (SerialPortInfo& port : ports)
        port.accessProblem = accessProblem(systemRoot + port.path);
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return portNameLess(a.name, b.name);
    });
    return ports;
}
