// comDevice found in a fake system tree: by path, by USB identity with and
// without the serial number, two devices of one kind, and none.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "device/serial_device.h"

namespace fs = std::filesystem;

namespace {

struct FakeSystem {
    std::string root;
    FakeSystem() {
        char folder[] = "/tmp/tolvane-serial-device-XXXXXX";
        root = mkdtemp(folder);
    }
    ~FakeSystem() { fs::remove_all(root); }
    void file(const std::string& path, const std::string& text) const {
        fs::create_directories(fs::path(root + path).parent_path());
        std::ofstream(root + path) << text << "\n";
    }
    void link(const std::string& path, const std::string& target) const {
        fs::create_directories(fs::path(root + path).parent_path());
        fs::create_directory_symlink(target, root + path);
    }
    // A USB device at bus port usbPort with one tty on its first interface.
    void usbTty(const std::string& usbPort, const char* vendor, const char* product,
                const char* serial, const std::string& tty) const {
        const std::string usb = "/sys/devices/pci0000:00/usb1/" + usbPort;
        file(usb + "/idVendor", vendor);
        file(usb + "/idProduct", product);
        if (serial != nullptr) file(usb + "/serial", serial);
        file(usb + "/" + usbPort + ":1.0/" + tty + "/uevent", "");
        link("/sys/class/tty/" + tty + "/device",
             "../../../devices/pci0000:00/usb1/" + usbPort + "/" + usbPort + ":1.0/" + tty);
        file("/dev/" + tty, "");
    }
};

} // namespace

TEST(SerialDevice, FindsTheDeviceComDeviceNames) {
    FakeSystem sys;
    sys.usbTty("1-2", "0403", "6001", "A12345", "ttyUSB1");
    sys.usbTty("1-3", "2341", "0043", "B1", "ttyACM0");
    sys.usbTty("1-4", "2341", "0043", "B2", "ttyACM1");
    sys.usbTty("1-5", "1a86", "7523", nullptr, "ttyUSB0");
    sys.file("/sys/devices/platform/serial8250/ttyS0/uevent", "");
    sys.link("/sys/class/tty/ttyS0/device", "../../../devices/platform/serial8250/ttyS0");
    sys.file("/sys/class/tty/tty0/uevent", "");
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0";
    sys.link(byId, "../../ttyUSB1");

    struct Case {
        std::string value;
        std::string path;   // "" when the open must fail
        int error;          // then with this error
        std::string reason; // and a reason that holds this
    } cases[] = {
        {byId, byId, 0, ""},
        {"ttyUSB0", "/dev/ttyUSB0", 0, ""},
        {"usb:0403:6001", "/dev/ttyUSB1", 0, ""},
        {"usb:0403:6001:A12345", "/dev/ttyUSB1", 0, ""},
        {"usb:1A86:7523", "/dev/ttyUSB0", 0, ""},
        {"usb:2341:0043:B2", "/dev/ttyACM1", 0, ""},
        {"usb:2341:0043", "", ENOTUNIQ,
         "usb:2341:0043: 2 devices match (usb:2341:0043:B1 (ttyACM0), usb:2341:0043:B2 (ttyACM1)) "
         "and none is taken"},
        {"usb:0403:6001:A99999", "", ENODEV,
         "usb:0403:6001:A99999: no such USB device is plugged in; present: usb:2341:0043:B1 "
         "(ttyACM0), usb:2341:0043:B2 (ttyACM1), usb:1a86:7523 (ttyUSB0), usb:0403:6001:A12345 "
         "(ttyUSB1)"},
        {"/dev/serial/by-id/usb-gone-if00-port0", "", ENOENT,
         "no such device is present; present: " + byId},
        {"usb:0403:60", "", EINVAL, "is no USB identity"},
    };
    for (const Case& c : cases) {
        char path[512];
        const SystemResult found =
            findSerialDevice(c.value.c_str(), sys.root.c_str(), path, sizeof path);
        if (c.path.empty()) {
            EXPECT_FALSE(found.ok) << c.value;
            EXPECT_EQ(found.error, c.error) << c.value;
            EXPECT_NE(std::string(found.reason).find(c.reason), std::string::npos)
                << c.value << ": " << found.reason;
        } else {
            EXPECT_TRUE(found.ok) << c.value << ": " << found.reason;
            EXPECT_EQ(path, sys.root + c.path) << c.value;
        }
    }

    // Nothing plugged in at all.
    fs::remove_all(sys.root + "/sys/class/tty");
    fs::remove_all(sys.root + "/dev/serial");
    char path[512];
    SystemResult none = findSerialDevice("usb:0403:6001", sys.root.c_str(), path, sizeof path);
    EXPECT_EQ(none.error, ENODEV);
    EXPECT_NE(std::string(none.reason).find("no USB serial device is present"), std::string::npos)
        << none.reason;
    none = findSerialDevice(byId.c_str(), sys.root.c_str(), path, sizeof path);
    EXPECT_EQ(none.error, ENOENT);
    EXPECT_NE(std::string(none.reason).find("no /dev/serial/by-id names"), std::string::npos)
        << none.reason;
}
