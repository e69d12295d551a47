// Splits the X screen into RandR 1.5 monitors, for tests that need several
// monitors on one Xvfb screen (which has a single output). The first monitor
// takes the screen's outputs, so the server's own monitor for them goes; the
// others have none. The server must run with -noreset, or the monitors go
// with this program's connection.
//   split_monitors WxH+X+Y[*]...   ("*": the primary monitor)
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: split_monitors WxH+X+Y[*]...\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "split_monitors: no X display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    int major = 0, minor = 0;
    if (!XRRQueryVersion(display, &major, &minor) || (major == 1 && minor < 5)) {
        std::fprintf(stderr, "split_monitors: the server has no RandR 1.5\n");
        return 1;
    }
    XRRScreenResources* resources = XRRGetScreenResources(display, root);
    // A split made before goes first: the server refuses an output that
    // another monitor still holds. Its own monitors cannot be deleted.
    int before = 0;
    XRRMonitorInfo* old = XRRGetMonitors(display, root, False, &before);
    for (int i = 0; i < before; ++i) {
        char* name = XGetAtomName(display, old[i].name);
        if (name && std::strncmp(name, "tolvane-", 8) == 0)
            XRRDeleteMonitor(display, root, old[i].name);
        XFree(name);
    }
    XRRFreeMonitors(old);
    for (int i = 1; i < argc; ++i) {
        unsigned width = 0, height = 0;
        int x = 0, y = 0;
        char mark = '\0';
        if (std::sscanf(argv[i], "%ux%u%d%d%c", &width, &height, &x, &y, &mark) < 4) {
            std::fprintf(stderr, "split_monitors: '%s' is no WxH+X+Y\n", argv[i]);
            return 2;
        }
        const std::string name = "tolvane-" + std::to_string(i);
        XRRMonitorInfo* monitor = XRRAllocateMonitor(display, i == 1 ? resources->noutput : 0);
        monitor->name = XInternAtom(display, name.c_str(), False);
        monitor->primary = mark == '*';
        monitor->x = x;
        monitor->y = y;
        monitor->width = static_cast<int>(width);
        monitor->height = static_cast<int>(height);
        // Millimetres, only so that nothing divides by zero.
        monitor->mwidth = static_cast<int>(width) / 4;
        monitor->mheight = static_cast<int>(height) / 4;
        for (int o = 0; i == 1 && o < resources->noutput; ++o)
            monitor->outputs[o] = resources->outputs[o];
        XRRSetMonitor(display, root, monitor);
        XRRFreeMonitors(monitor);
    }
    XRRFreeScreenResources(resources);
    XSync(display, False);
    int count = 0;
    XRRMonitorInfo* now = XRRGetMonitors(display, root, True, &count);
    for (int i = 0; i < count; ++i)
        std::printf("%dx%d+%d+%d%s\n", now[i].width, now[i].height, now[i].x, now[i].y,
                    now[i].primary ? " primary" : "");
    XRRFreeMonitors(now);
    XCloseDisplay(display);
    return 0;
}
