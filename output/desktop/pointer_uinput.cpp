// A virtual pointing device made through the kernel's uinput: compositors and
// X servers read it like any real mouse, so it works under Wayland, X11 and
// on the console. One device carries the absolute axes, the three buttons and
// the wheel: a compositor takes buttons on a second device for a second
// pointer. In relative mode the device is another one, of relative axes
// instead (a device must not advertise both), with the same buttons and
// wheel. Each call of the air mouse is one input frame (one SYN_REPORT).
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "output/desktop/pointer.h"
#include "output/desktop/pointer_backends.h"
#include "output/desktop/screen_choice.h"
#include "text/number_text.h"

namespace {

libevdev_uinput* device = nullptr;
int deviceFd = -1;
std::atomic<bool> available{false};
int32_t screenW = 0, screenH = 0;
bool relativeDevice = false;
char node[64] = "";
// The outputs inside the device's range, and the chosen screen's corner in it.
MonitorList monitorList{};
std::atomic<int32_t> originX{0}, originY{0};

// Wheel data counts in 1/120 of a notch, as REL_WHEEL_HI_RES does. REL_WHEEL
// gets one notch per 120 collected in one direction; the remainder is kept
// while the direction stays, and dropped when it turns (as the X11 pointer
// does, so both scroll alike).
constexpr int64_t wheelDelta = 120;
// A hand-edited scroll speed can reach 2^31 per event; one event moves at
// most this many notches and the excess is dropped.
constexpr int64_t maxNotchesPerEvent = 8;
int64_t wheelForward = 0;
int64_t wheelBackward = 0;
// The horizontal wheel the same way: to the right, to the left.
int64_t wheelRight = 0;
int64_t wheelLeft = 0;

void emit(unsigned type, unsigned code, int value) {
    // Like SendInput's, a refused write is not looked at: the next sample
    // tries again.
    libevdev_uinput_write_event(device, type, code, value);
}

void wheel(int64_t amount, bool horizontal) {
    int64_t& ahead = horizontal ? wheelRight : wheelForward;
    int64_t& back = horizontal ? wheelLeft : wheelBackward;
    int64_t* collected = amount > 0 ? &ahead : &back;
    (amount > 0 ? back : ahead) = 0;
    int64_t step = amount > 0 ? amount : -amount;
    if (step > maxNotchesPerEvent * wheelDelta) step = maxNotchesPerEvent * wheelDelta;
    *collected += step;
    const int64_t notches = *collected / wheelDelta;
    *collected %= wheelDelta;
    const int sign = amount > 0 ? 1 : -1;
    emit(EV_REL, horizontal ? REL_HWHEEL_HI_RES : REL_WHEEL_HI_RES, static_cast<int>(sign * step));
    if (notches > 0)
        emit(EV_REL, horizontal ? REL_HWHEEL : REL_WHEEL, static_cast<int>(sign * notches));
}

} // namespace

int openUinputNode() {
    return open("/dev/uinput", O_WRONLY | O_CLOEXEC | O_NONBLOCK);
}

bool openUinputPointer(int fd, int32_t width, int32_t height, bool relative) {
    closeUinputPointer();
    if (fd < 0) return false;
    libevdev* description = libevdev_new();
    if (!description) {
        close(fd);
        return false;
    }
    libevdev_set_name(description, relative ? uinputRelativeName : uinputDeviceName);
    libevdev_set_id_bustype(description, BUS_VIRTUAL);
    if (relative) {
        libevdev_enable_event_code(description, EV_REL, REL_X, nullptr);
        libevdev_enable_event_code(description, EV_REL, REL_Y, nullptr);
    } else {
        // Absolute axes whose values are the air mouse's pixels; a single
        // pixel still needs a range of two values.
        input_absinfo x{};
        x.maximum = width > 1 ? width - 1 : 1;
        input_absinfo y{};
        y.maximum = height > 1 ? height - 1 : 1;
        libevdev_enable_event_code(description, EV_ABS, ABS_X, &x);
        libevdev_enable_event_code(description, EV_ABS, ABS_Y, &y);
    }
    for (unsigned button : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE})
        libevdev_enable_event_code(description, EV_KEY, button, nullptr);
    libevdev_enable_event_code(description, EV_REL, REL_WHEEL, nullptr);
    libevdev_enable_event_code(description, EV_REL, REL_WHEEL_HI_RES, nullptr);
    libevdev_enable_event_code(description, EV_REL, REL_HWHEEL, nullptr);
    libevdev_enable_event_code(description, EV_REL, REL_HWHEEL_HI_RES, nullptr);
    const int made = libevdev_uinput_create_from_device(description, fd, &device);
    libevdev_free(description);
    if (made != 0) {
        device = nullptr;
        close(fd);
        errno = -made;
        return false;
    }
    deviceFd = fd;
    copyText(node, sizeof node,
             libevdev_uinput_get_devnode(device) ? libevdev_uinput_get_devnode(device) : "");
    screenW = width;
    screenH = height;
    relativeDevice = relative;
    monitorList = MonitorList{};
    originX = originY = 0;
    wheelForward = wheelBackward = wheelRight = wheelLeft = 0;
    available = true;
    return true;
}

void closeUinputPointer() {
    available = false;
    if (device) libevdev_uinput_destroy(device);
    device = nullptr;
    if (deviceFd >= 0) close(deviceFd);
    deviceFd = -1;
    node[0] = '\0';
}

bool uinputPointerAvailable() {
    return available;
}

bool readUinputScreenSize(int32_t* width, int32_t* height) {
    if (!available) return false;
    *width = screenW;
    *height = screenH;
    return true;
}

const char* uinputDeviceNode() {
    return node;
}

void setUinputMonitors(const MonitorList& monitors) {
    monitorList = monitors;
}

// The whole range is the desktop; the outputs, where they were read, are
// the monitors inside it.
bool readUinputMonitors(MonitorList* monitors) {
    if (!available) return false;
    *monitors = monitorList;
    if (monitors->count == 0) monitors->primary = -1;
    monitors->desktop = ScreenRect{0, 0, screenW, screenH};
    return true;
}

void setUinputCursorOrigin(int32_t x, int32_t y) {
    originX = x;
    originY = y;
}

void placeUinputCursor(int32_t x, int32_t y) {
    if (!available || relativeDevice) return;
    emit(EV_ABS, ABS_X, originX.load() + x);
    emit(EV_ABS, ABS_Y, originY.load() + y);
    emit(EV_SYN, SYN_REPORT, 0);
}

void moveUinputCursor(int32_t dx, int32_t dy) {
    if (!available || !relativeDevice) return;
    if (dx != 0) emit(EV_REL, REL_X, dx);
    if (dy != 0) emit(EV_REL, REL_Y, dy);
    emit(EV_SYN, SYN_REPORT, 0);
}

void sendUinputMouseEvent(uint32_t flags, int32_t wheelData) {
    if (!available) return;
    // In the order Windows handles the flags of one record.
    if (flags & mouseEventLeftDown) emit(EV_KEY, BTN_LEFT, 1);
    if (flags & mouseEventLeftUp) emit(EV_KEY, BTN_LEFT, 0);
    if (flags & mouseEventRightDown) emit(EV_KEY, BTN_RIGHT, 1);
    if (flags & mouseEventRightUp) emit(EV_KEY, BTN_RIGHT, 0);
    if (flags & mouseEventMiddleDown) emit(EV_KEY, BTN_MIDDLE, 1);
    if (flags & mouseEventMiddleUp) emit(EV_KEY, BTN_MIDDLE, 0);
    if ((flags & mouseEventWheel) && wheelData != 0) wheel(wheelData, false);
    if ((flags & mouseEventHWheel) && wheelData != 0) wheel(wheelData, true);
    emit(EV_SYN, SYN_REPORT, 0);
}

namespace {

libevdev_uinput* keysDevice = nullptr;
int keysFd = -1;
char keysNode[64] = "";
bool keysTried = false; // made, or refused: not tried again for every key

// Key codes by KeyId (from KeyId::a on): where each key sits on a US
// keyboard.
constexpr unsigned keyCodes[keyIdCount - 1] = {
    // clang-format off
    KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M,
    KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z,
    KEY_0, KEY_1, KEY_2, KEY_3, KEY_4, KEY_5, KEY_6, KEY_7, KEY_8, KEY_9,
    KEY_F1, KEY_F2, KEY_F3, KEY_F4, KEY_F5, KEY_F6, KEY_F7, KEY_F8, KEY_F9, KEY_F10, KEY_F11,
    KEY_F12,
    KEY_PAGEDOWN, KEY_PAGEUP, KEY_HOME, KEY_END, KEY_UP, KEY_DOWN, KEY_LEFT, KEY_RIGHT,
    KEY_ENTER, KEY_SPACE, KEY_ESC, KEY_TAB, KEY_BACKSPACE, KEY_DELETE, KEY_INSERT, KEY_DOT,
    KEY_COMMA,
    KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_LEFTALT, KEY_LEFTMETA,
    KEY_VOLUMEUP, KEY_VOLUMEDOWN,
    // clang-format on
};

} // namespace

bool openUinputKeys(int fd) {
    closeUinputKeys();
    keysTried = true;
    if (fd < 0) return false;
    libevdev* description = libevdev_new();
    if (!description) {
        close(fd);
        return false;
    }
    libevdev_set_name(description, uinputKeysName);
    libevdev_set_id_bustype(description, BUS_VIRTUAL);
    // Every key before the device is made: a device's keys cannot change. The
    // whole main block and the navigation keys, wherever a layout puts a
    // symbol (the 102nd key, the Japanese keys), and of the media keys only
    // the volume's (the keys above include them).
    for (unsigned code : keyCodes)
        libevdev_enable_event_code(description, EV_KEY, code, nullptr);
    for (unsigned code = KEY_ESC; code <= KEY_RO; ++code)
        libevdev_enable_event_code(description, EV_KEY, code, nullptr);
    for (unsigned code = KEY_KPENTER; code <= KEY_DELETE; ++code)
        libevdev_enable_event_code(description, EV_KEY, code, nullptr);
    for (unsigned code : {KEY_YEN, KEY_RIGHTMETA, KEY_COMPOSE})
        libevdev_enable_event_code(description, EV_KEY, code, nullptr);
    const int made = libevdev_uinput_create_from_device(description, fd, &keysDevice);
    libevdev_free(description);
    if (made != 0) {
        keysDevice = nullptr;
        close(fd);
        errno = -made;
        return false;
    }
    keysFd = fd;
    copyText(keysNode, sizeof keysNode,
             libevdev_uinput_get_devnode(keysDevice) ? libevdev_uinput_get_devnode(keysDevice)
                                                     : "");
    return true;
}

void closeUinputKeys() {
    // The kernel lets go of the keys still down when the device goes.
    if (keysDevice) libevdev_uinput_destroy(keysDevice);
    keysDevice = nullptr;
    if (keysFd >= 0) close(keysFd);
    keysFd = -1;
    keysNode[0] = '\0';
    keysTried = false;
}

unsigned uinputKeyCode(KeyId key) {
    const int i = static_cast<int>(key);
    return i >= 1 && i < keyIdCount ? keyCodes[i - 1] : 0;
}

bool sendUinputKeyCode(unsigned code, bool down) {
    if (!available || code == 0 || code > KEY_MAX) return false;
    if (!keysDevice && !keysTried) openUinputKeys(openUinputNode());
    if (!keysDevice) return false;
    libevdev_uinput_write_event(keysDevice, EV_KEY, code, down ? 1 : 0);
    libevdev_uinput_write_event(keysDevice, EV_SYN, SYN_REPORT, 0);
    return true;
}

bool sendUinputKey(KeyId key, bool down) {
    return sendUinputKeyCode(uinputKeyCode(key), down);
}

const char* uinputKeysNode() {
    return keysNode;
}
