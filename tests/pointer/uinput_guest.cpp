// The uinput pointer on a real kernel: run as a test kernel's only program
// (uinput_qemu_test.sh builds the initramfs). It drives the air mouse over
// the real uinput backend through a scripted sequence and reads every event
// back from the device's event node, comparing each with what the kernel
// passes on for the air mouse's calls. Prints the events and ends with
// "UINPUT-TEST PASS" or "UINPUT-TEST FAIL".
//
//   uinput_guest absent   /dev/uinput is missing: the choice names the remedy
//   uinput_guest          the sequence
//   uinput_guest show READY GO
//                         makes the device, writes its node's name to the pipe
//                         READY, waits for a line on the pipe GO, then moves,
//                         clicks and scrolls once, for libinput to classify;
//                         a second line on GO ends it
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "output/hand/air_mouse.h"
#include "output/hand/button_map.h"
#include "output/desktop/keys.h"
#include "output/desktop/pointer.h"
#include "output/desktop/pointer_backends.h"
#include "output/desktop/pointer_choice.h"
#include "output/hand/pointer_output.h"
#include "output/desktop/screen_choice.h"
#include "output/desktop/screen_geometry.h"
#include "settings/settings.h"

namespace {

constexpr int32_t width = 1600, height = 900, scrollSpeed = 50;

struct Event {
    unsigned type, code;
    int value;
};

constexpr int maxEvents = 1024;
Event expected[maxEvents];
int expectedCount = 0;
Event got[maxEvents];
int gotCount = 0;
int failures = 0;

void fail(const char* what) {
    std::printf("FAIL: %s\n", what);
    ++failures;
}

// What the kernel passes on for the air mouse's calls: an axis value equal to
// the current one and a key that keeps its state are dropped, and a frame
// left empty is not reported at all.
struct KernelModel {
    int x = 0, y = 0;
    int keys[3] = {0, 0, 0};
    long long forward = 0, backward = 0; // wheel units not yet a notch
    Event frame[16];
    int frameCount = 0;

    void add(unsigned type, unsigned code, int value) { frame[frameCount++] = {type, code, value}; }
    void axis(unsigned code, int* current, int value) {
        if (*current != value) add(EV_ABS, code, value);
        *current = value;
    }
    void key(int index, unsigned code, int value) {
        if (keys[index] != value) add(EV_KEY, code, value);
        keys[index] = value;
    }
    void endFrame() {
        if (frameCount == 0) return;
        for (int i = 0; i < frameCount && expectedCount < maxEvents; ++i)
            expected[expectedCount++] = frame[i];
        if (expectedCount < maxEvents) expected[expectedCount++] = {EV_SYN, SYN_REPORT, 0};
        frameCount = 0;
    }
    void place(int32_t px, int32_t py) {
        axis(ABS_X, &x, px);
        axis(ABS_Y, &y, py);
        endFrame();
    }
    // Wheel data is in 1/120 notch; a notch per 120 in one direction.
    void event(uint32_t flags, int32_t wheel) {
        if (flags & mouseEventLeftDown) key(0, BTN_LEFT, 1);
        if (flags & mouseEventLeftUp) key(0, BTN_LEFT, 0);
        if (flags & mouseEventRightDown) key(1, BTN_RIGHT, 1);
        if (flags & mouseEventRightUp) key(1, BTN_RIGHT, 0);
        if (flags & mouseEventMiddleDown) key(2, BTN_MIDDLE, 1);
        if (flags & mouseEventMiddleUp) key(2, BTN_MIDDLE, 0);
        if ((flags & mouseEventWheel) && wheel != 0) {
            long long& kept = wheel > 0 ? forward : backward;
            (wheel > 0 ? backward : forward) = 0;
            kept += wheel > 0 ? wheel : -wheel;
            add(EV_REL, REL_WHEEL_HI_RES, wheel);
            if (kept >= 120)
                add(EV_REL, REL_WHEEL, static_cast<int>(wheel > 0 ? kept / 120 : -(kept / 120)));
            kept %= 120;
        }
        endFrame();
    }
};

KernelModel model;
int32_t originX = 0, originY = 0;
libevdev* reader = nullptr;

// Everything the node holds now. A uinput write reaches the reader's buffer
// before the write returns, so nothing is still on its way.
int drain() {
    input_event ev;
    for (;;) {
        const int rc = libevdev_next_event(reader, LIBEVDEV_READ_FLAG_NORMAL, &ev);
        if (rc == LIBEVDEV_READ_STATUS_SUCCESS) {
            if (gotCount < maxEvents) got[gotCount++] = {ev.type, ev.code, ev.value};
            std::printf("  %s %s %d\n", libevdev_event_type_get_name(ev.type),
                        libevdev_event_code_get_name(ev.type, ev.code), ev.value);
            continue;
        }
        if (rc == LIBEVDEV_READ_STATUS_SYNC) {
            fail("events were dropped (SYN_DROPPED)");
            continue;
        }
        return rc;
    }
}

} // namespace

// pointer.h over the uinput backend alone: the test program links neither X
// nor Wayland. Each call is also given to the kernel model.
bool openPointer() {
    return openUinputPointer(openUinputNode(), width, height);
}
void closePointer() {
    closeUinputPointer();
}
bool pointerAvailable() {
    return uinputPointerAvailable();
}
bool readScreenSize(int32_t* w, int32_t* h) {
    return readUinputScreenSize(w, h);
}
bool readMonitors(MonitorList* monitors) {
    return readUinputMonitors(monitors);
}
void setCursorOrigin(int32_t x, int32_t y) {
    setUinputCursorOrigin(x, y);
    originX = x;
    originY = y;
}
void placeCursor(int32_t x, int32_t y) {
    placeUinputCursor(x, y);
    model.place(originX + x, originY + y);
}
void moveCursorBy(int32_t dx, int32_t dy) {
    moveUinputCursor(dx, dy);
}
void sendMouseEvent(uint32_t flags, int32_t wheelData) {
    sendUinputMouseEvent(flags, wheelData);
    model.event(flags, wheelData);
}
bool sendKey(KeyId key, bool down) {
    return sendUinputKey(key, down);
}

namespace {

MotionOutput pointing(double ax, double ay, double degrees) {
    const double half = degrees * 3.14159265358979323846 / 360.0;
    const double n = std::sqrt(ax * ax + ay * ay);
    MotionOutput out{{0, 0, 0}, {0, 0, 0, static_cast<float>(std::cos(half))}};
    if (n > 0) {
        out.quaternion[0] = static_cast<float>(ax / n * std::sin(half));
        out.quaternion[1] = static_cast<float>(ay / n * std::sin(half));
    }
    return out;
}

void pass(const char* what, const MotionOutput& motion, int b0, int b1, int b2, int b3, int b4) {
    std::printf("%s\n", what);
    updateCursor(motion);
    injectButtons(ButtonState{{b0, b1, b2, b3, b4}});
    drain();
}

void checkPosition(const MotionOutput& motion, int32_t x, int32_t y, const char* what) {
    int32_t px = -1, py = -1;
    if (!cursorPosition(motion, &px, &py) || px != x || py != y) fail(what);
}

// Relative mode's device: relative axes, the buttons and the wheel, and no
// absolute axes; a move, a click and a notch read back as sent.
void relativeDevice() {
    if (!openUinputPointer(openUinputNode(), width, height, true)) {
        fail("cannot make the relative device");
        return;
    }
    char relativeNode[64];
    std::snprintf(relativeNode, sizeof relativeNode, "%s", uinputDeviceNode());
    libevdev* relative = nullptr;
    const int fd = open(relativeNode, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || libevdev_new_from_fd(fd, &relative) != 0) {
        fail("cannot read the relative device");
        if (fd >= 0) close(fd);
        closeUinputPointer();
        return;
    }
    std::printf("relative %s: \"%s\"\n", relativeNode, libevdev_get_name(relative));
    if (std::strcmp(libevdev_get_name(relative), uinputRelativeName) != 0)
        fail("relative device name");
    for (unsigned code : {REL_X, REL_Y, REL_WHEEL, REL_WHEEL_HI_RES})
        if (!libevdev_has_event_code(relative, EV_REL, code)) fail("a relative axis is missing");
    for (unsigned code : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE})
        if (!libevdev_has_event_code(relative, EV_KEY, code)) fail("a mouse button is missing");
    if (libevdev_has_event_type(relative, EV_ABS)) fail("the relative device has absolute axes");
    // A place has nowhere to go on it; the rest arrives as sent.
    placeUinputCursor(5, 5);
    moveUinputCursor(3, -1);
    sendUinputMouseEvent(mouseEventLeftDown, 0);
    sendUinputMouseEvent(mouseEventLeftUp, 0);
    sendUinputMouseEvent(mouseEventWheel, 120);
    const Event sent[] = {{EV_REL, REL_X, 3},      {EV_REL, REL_Y, -1},
                          {EV_SYN, SYN_REPORT, 0}, {EV_KEY, BTN_LEFT, 1},
                          {EV_SYN, SYN_REPORT, 0}, {EV_KEY, BTN_LEFT, 0},
                          {EV_SYN, SYN_REPORT, 0}, {EV_REL, REL_WHEEL_HI_RES, 120},
                          {EV_REL, REL_WHEEL, 1},  {EV_SYN, SYN_REPORT, 0}};
    constexpr int sentCount = sizeof sent / sizeof sent[0];
    int count = 0;
    input_event ev;
    while (libevdev_next_event(relative, LIBEVDEV_READ_FLAG_NORMAL, &ev) ==
           LIBEVDEV_READ_STATUS_SUCCESS) {
        std::printf("  relative: %s %s %d\n", libevdev_event_type_get_name(ev.type),
                    libevdev_event_code_get_name(ev.type, ev.code), ev.value);
        if (count >= sentCount || ev.type != sent[count].type || ev.code != sent[count].code ||
            ev.value != sent[count].value)
            fail("the relative device's events differ from those sent");
        ++count;
    }
    if (count != sentCount) fail("not every relative event was read back");
    closeUinputPointer();
    libevdev_free(relative);
    close(fd);
}

int absent() {
    const int fd = openUinputNode();
    const int error = errno;
    const PointerChoice choice =
        choosePointerBackend(PointerProbe{PointerBackend::automatic, false, false, fd >= 0, error});
    std::printf("without the module: %s\n", choice.reason);
    if (fd >= 0 || choice.backend != PointerKind::none || !std::strstr(choice.reason, "modprobe"))
        fail("an absent /dev/uinput is not reported with its remedy");
    std::printf(failures ? "UINPUT-ABSENT FAIL\n" : "UINPUT-ABSENT PASS\n");
    return failures ? 1 : 0;
}

int show(const char* ready, const char* go) {
    setDefaults();
    settings.scrollSpeed = 120;
    if (!openPointer()) return 1;
    screenWidth = width;
    screenHeight = height;
    computeScreenDistancePixels();
    resetPreviousButtons();
    FILE* out = std::fopen(ready, "w");
    if (!out) return 1;
    std::fprintf(out, "%s\n", std::strrchr(uinputDeviceNode(), '/') + 1);
    std::fclose(out);
    char line[16];
    FILE* in = std::fopen(go, "r");
    if (!in || !std::fgets(line, sizeof line, in)) return 1;
    const MotionOutput centre = pointing(0, 0, 0);
    updateCursor(pointing(1, 1, 10));
    updateCursor(centre);
    injectButtons(ButtonState{{1, 0, 0, 0, 0}});
    injectButtons(ButtonState{{0, 0, 0, 0, 0}});
    injectButtons(ButtonState{{0, 0, 1, 0, 0}});
    // The device stays until libinput has read it all.
    std::fgets(line, sizeof line, in);
    std::fclose(in);
    closePointer();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc > 1 && std::strcmp(argv[1], "absent") == 0) return absent();
    if (argc > 3 && std::strcmp(argv[1], "show") == 0) return show(argv[2], argv[3]);

    setDefaults();
    settings.scrollSpeed = scrollSpeed;
    const int fd = openUinputNode();
    const PointerChoice choice = choosePointerBackend(
        PointerProbe{PointerBackend::automatic, false, false, fd >= 0, fd >= 0 ? 0 : errno});
    if (fd >= 0) close(fd);
    std::printf("choice: %s\n", choice.reason);
    if (choice.backend != PointerKind::uinput) fail("no X display and /dev/uinput: not uinput");

    // The measurement starts: the device is made once.
    if (!openPointer()) {
        std::printf("cannot make the device: %s\nUINPUT-TEST FAIL\n", std::strerror(errno));
        return 1;
    }
    int32_t w = 0, h = 0;
    readScreenSize(&w, &h);
    screenWidth = w;
    screenHeight = h;
    computeScreenDistancePixels();
    resetPreviousButtons();

    char node[64];
    std::snprintf(node, sizeof node, "%s", uinputDeviceNode());
    const int readFd = open(node, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (readFd < 0 || libevdev_new_from_fd(readFd, &reader) != 0) {
        std::printf("cannot read %s: %s\nUINPUT-TEST FAIL\n", node, std::strerror(errno));
        return 1;
    }
    std::printf("device %s: \"%s\", bus %d, ABS_X 0..%d, ABS_Y 0..%d\n", node,
                libevdev_get_name(reader), libevdev_get_id_bustype(reader),
                libevdev_get_abs_maximum(reader, ABS_X), libevdev_get_abs_maximum(reader, ABS_Y));
    if (std::strcmp(libevdev_get_name(reader), uinputDeviceName) != 0) fail("device name");
    if (libevdev_get_abs_minimum(reader, ABS_X) != 0 ||
        libevdev_get_abs_maximum(reader, ABS_X) != width - 1 ||
        libevdev_get_abs_minimum(reader, ABS_Y) != 0 ||
        libevdev_get_abs_maximum(reader, ABS_Y) != height - 1)
        fail("axis ranges are not the screen's pixels");
    for (unsigned code : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE})
        if (!libevdev_has_event_code(reader, EV_KEY, code)) fail("a mouse button is missing");
    if (!libevdev_has_event_code(reader, EV_REL, REL_WHEEL) ||
        !libevdev_has_event_code(reader, EV_REL, REL_WHEEL_HI_RES))
        fail("the wheel is missing");
    // What makes input stacks take it for a touchscreen or a tablet.
    if (libevdev_has_property(reader, INPUT_PROP_DIRECT) ||
        libevdev_has_event_code(reader, EV_KEY, BTN_TOUCH) ||
        libevdev_has_event_code(reader, EV_KEY, BTN_TOOL_PEN))
        fail("the device looks like a touchscreen or a tablet");

    const MotionOutput centre = pointing(0, 0, 0);
    const MotionOutput corners[4] = {pointing(-1, -1, 80), pointing(-1, 1, 80), pointing(1, 1, 80),
                                     pointing(1, -1, 80)};
    checkPosition(centre, width / 2, height / 2, "the centre is not the screen's middle");
    checkPosition(corners[0], width - 1, height - 1, "corner 1");
    checkPosition(corners[1], 0, height - 1, "corner 2");
    checkPosition(corners[2], 0, 0, "corner 3");
    checkPosition(corners[3], width - 1, 0, "corner 4");

    pass("centre", centre, 0, 0, 0, 0, 0);
    for (const MotionOutput& corner : corners)
        pass("corner", corner, 0, 0, 0, 0, 0);
    pass("centre", centre, 0, 0, 0, 0, 0);
    pass("left down", centre, 1, 0, 0, 0, 0);
    pass("left held", centre, 1, 0, 0, 0, 0);
    pass("left up", centre, 0, 0, 0, 0, 0);
    pass("right down", corners[0], 0, 1, 0, 0, 0);
    pass("right up", corners[0], 0, 0, 0, 0, 0);
    pass("middle down", corners[2], 0, 0, 0, 0, 1);
    pass("middle up", corners[2], 0, 0, 0, 0, 0);
    for (int i = 0; i < 3; ++i)
        pass("wheel forward", centre, 0, 0, 1, 0, 0);
    for (int i = 0; i < 4; ++i)
        pass("wheel backward", centre, 0, 0, 0, 1, 0);
    pass("left reads 2: an up the kernel drops", centre, 2, 0, 0, 0, 0);
    pass("middle held", centre, 0, 0, 0, 0, 1);

    // A restart of the measurement cycle keeps the device; the held middle
    // button is sent down again, which the kernel drops.
    resetPreviousButtons();
    if (std::strcmp(node, uinputDeviceNode()) != 0) fail("the device changed at the restart");
    pass("after the restart, middle still held", centre, 0, 0, 0, 0, 1);
    pass("middle up", centre, 0, 0, 0, 0, 0);

    // mouseScreen over two outputs inside the device's box, as a compositor
    // announces them: the range stays the box, and pointing straight ahead
    // lands in the middle of the output chosen. Wayland has no primary
    // output, so primary (and an output that is not there) is the box.
    const OutputGeometry outputs[] = {{0, 100, 1000, 800, 1, 0}, {1000, 0, 600, 900, 1, 0}};
    MonitorList monitors;
    if (!desktopMonitors(outputs, 2, &monitors)) fail("the outputs give no monitors");
    setUinputMonitors(monitors);
    settings.mouseEnabled = 1;
    const struct {
        int32_t which;
        int x, y;
    } screens[] = {{2, 1300, 450}, {1, 500, 500},  {mouseScreenAll, 800, 450},
                   {5, 800, 450},  {2, 1300, 450}, {mouseScreenPrimary, 800, 450}};
    for (const auto& screen : screens) {
        settings.mouseScreen = screen.which;
        pointerOutput.prepare();
        pass("screen", centre, 0, 0, 0, 0, 0);
        if (libevdev_get_event_value(reader, EV_ABS, ABS_X) != screen.x ||
            libevdev_get_event_value(reader, EV_ABS, ABS_Y) != screen.y)
            fail("the cursor is not in the middle of the screen chosen");
        if (libevdev_get_abs_maximum(reader, ABS_X) != width - 1) fail("the range changed");
    }
    pass("corner of the box", corners[0], 0, 0, 0, 0, 0);
    if (libevdev_get_event_value(reader, EV_ABS, ABS_X) != width - 1)
        fail("the whole box is not reached with the primary screen");

    // The buttons' keys: a second device, a keyboard, beside the pointer.
    if (!openUinputKeys(openUinputNode())) fail("cannot make the key device");
    char keysNode[64];
    std::snprintf(keysNode, sizeof keysNode, "%s", uinputKeysNode());
    libevdev* keys = nullptr;
    const int keysFd = open(keysNode, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (keysFd < 0 || libevdev_new_from_fd(keysFd, &keys) != 0) {
        std::printf("cannot read %s: %s\nUINPUT-TEST FAIL\n", keysNode, std::strerror(errno));
        return 1;
    }
    std::printf("keys %s: \"%s\"\n", keysNode, libevdev_get_name(keys));
    if (std::strcmp(libevdev_get_name(keys), uinputKeysName) != 0) fail("key device name");
    for (unsigned code : {KEY_PAGEDOWN, KEY_F5, KEY_LEFTSHIFT, KEY_B, KEY_DOT, KEY_LEFTMETA})
        if (!libevdev_has_event_code(keys, EV_KEY, code)) fail("a key is missing");
    // The pointer's device is still only a mouse.
    if (libevdev_has_event_code(reader, EV_KEY, KEY_A)) fail("the pointer device has keys");

    // Button 0 taps a chord; button 1 holds the left button until the map
    // lets go of everything, as at a stop.
    ButtonActions actions[5];
    const char* lines[5] = {"press:Shift+F5", "LeftButton", "", "", ""};
    char reason[256];
    for (int k = 0; k < 5; ++k) {
        TextBuilder why(reason, sizeof reason);
        if (!parseButtonActions(lines[k], &actions[k], why)) fail(reason);
    }
    ButtonMap map;
    setButtonMap(map, actions, 500, 300);
    ButtonState forMouse;
    BridgeRequests asked;
    // A cycle's first sample with a button held waits for its release.
    driveButtonMap(map, ButtonState{{0, 0, 0, 0, 0}}, 0.00, &forMouse, &asked);
    driveButtonMap(map, ButtonState{{1, 0, 0, 0, 0}}, 0.01, &forMouse, &asked);
    driveButtonMap(map, ButtonState{{0, 1, 0, 0, 0}}, 0.02, &forMouse, &asked);
    releaseButtonMap(map);
    drain();
    const Event keyExpected[] = {{EV_KEY, KEY_LEFTSHIFT, 1}, {EV_SYN, SYN_REPORT, 0},
                                 {EV_KEY, KEY_F5, 1},        {EV_SYN, SYN_REPORT, 0},
                                 {EV_KEY, KEY_F5, 0},        {EV_SYN, SYN_REPORT, 0},
                                 {EV_KEY, KEY_LEFTSHIFT, 0}, {EV_SYN, SYN_REPORT, 0}};
    int keyCount = 0;
    input_event ev;
    while (libevdev_next_event(keys, LIBEVDEV_READ_FLAG_NORMAL, &ev) ==
           LIBEVDEV_READ_STATUS_SUCCESS) {
        std::printf("  keys: %s %s %d\n", libevdev_event_type_get_name(ev.type),
                    libevdev_event_code_get_name(ev.type, ev.code), ev.value);
        if (keyCount >= 8 || ev.type != keyExpected[keyCount].type ||
            ev.code != keyExpected[keyCount].code || ev.value != keyExpected[keyCount].value)
            fail("the key events read back differ from the chord's");
        ++keyCount;
    }
    if (keyCount != 8) fail("not every key event was read back");
    for (unsigned code : {KEY_LEFTSHIFT, KEY_F5})
        if (libevdev_get_event_value(keys, EV_KEY, code) != 0) fail("a key is left down");
    closeUinputKeys();
    libevdev_free(keys);
    close(keysFd);

    // The stop: the device goes away and its reader learns so.
    closePointer();
    const int afterStop = drain();
    std::printf("after the stop: %s\n", std::strerror(-afterStop));
    if (afterStop != -ENODEV) fail("the device is still there after the stop");
    struct stat st;
    if (stat(node, &st) == 0) fail("the event node is still there after the stop");
    relativeDevice();

    int same = 0;
    while (same < gotCount && same < expectedCount && got[same].type == expected[same].type &&
           got[same].code == expected[same].code && got[same].value == expected[same].value)
        ++same;
    std::printf("events read back: %d, expected: %d, equal in order: %d\n", gotCount, expectedCount,
                same);
    if (same != gotCount || same != expectedCount) {
        fail("the events read back differ from the air mouse's");
        if (same < expectedCount)
            std::printf("  expected %s %s %d\n", libevdev_event_type_get_name(expected[same].type),
                        libevdev_event_code_get_name(expected[same].type, expected[same].code),
                        expected[same].value);
    }
    libevdev_free(reader);
    close(readFd);
    std::printf(failures ? "UINPUT-TEST FAIL\n" : "UINPUT-TEST PASS\n");
    return failures ? 1 : 0;
}
