#include "tests/support/raw_input_watch.h"

#include <X11/extensions/XInput2.h>
#include <poll.h>

bool selectRawInput(Display* display, std::initializer_list<int> types) {
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) return false;
    int major = 2, minor = 2;
    if (XIQueryVersion(display, &major, &minor) != Success) return false;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    for (const int type : types)
        XISetMask(bits, type);
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    XSync(display, False);
    return true;
}

std::vector<RawInputEvent> watchRawInput(Display* display, size_t count,
                                         std::chrono::seconds bound) {
    std::vector<RawInputEvent> seen;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (seen.size() < count && std::chrono::steady_clock::now() < deadline) {
        if (XPending(display) == 0) {
            pollfd p{ConnectionNumber(display), POLLIN, 0};
            poll(&p, 1, 100);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != GenericEvent || !XGetEventData(display, &event.xcookie)) continue;
        const int type = event.xcookie.evtype;
        RawInputEvent e{type, 0, 0, -1, -1};
        if (type == XI_ButtonPress || type == XI_ButtonRelease) {
            const auto* device = static_cast<const XIDeviceEvent*>(event.xcookie.data);
            e.detail = device->detail;
            e.time = device->time;
            e.x = static_cast<int>(device->root_x);
            e.y = static_cast<int>(device->root_y);
        } else {
            const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
            e.detail = raw->detail;
            e.time = raw->time;
            Window root, child;
            int windowX, windowY;
            unsigned int buttons;
            XQueryPointer(display, DefaultRootWindow(display), &root, &child, &e.x, &e.y, &windowX,
                          &windowY, &buttons);
        }
        seen.push_back(e);
        XFreeEventData(display, &event.xcookie);
    }
    return seen;
}
