#include "output/desktop/pointer_choice.h"

#include <cerrno>
#include <cstring>

#include "text/number_text.h"

namespace {

const char xtestReach[] = "XTest moves the cursor of X11 windows only";

void say(PointerChoice* choice, PointerKind backend, const char* a, const char* b = "",
         const char* c = "", const char* d = "") {
    choice->backend = backend;
    TextBuilder out(choice->reason, sizeof choice->reason);
    out.append(a);
    out.append(b);
    out.append(c);
    out.append(d);
}

} // namespace

void describeUinputError(int error, char* out, int size) {
    TextBuilder text(out, size > 0 ? static_cast<size_t>(size) : 0);
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        text.append("/dev/uinput does not exist: load the module with 'sudo modprobe uinput' "
                    "(the package loads it at every boot)");
        return;
    case EACCES:
    case EPERM:
        text.append("/dev/uinput is not open to you: the package's udev rule gives it to the "
                    "user at the machine's own seat (not ssh, not a system service); after "
                    "installing, run 'sudo udevadm trigger /dev/uinput' or restart");
        return;
    default:
        text.append("/dev/uinput does not open: ");
        text.append(std::strerror(error));
    }
}

PointerChoice choosePointerBackend(const PointerProbe& probe) {
    PointerChoice choice{};
    char uinputWhy[pointerReasonSize] = "";
    if (!probe.uinputOpens) describeUinputError(probe.uinputError, uinputWhy, sizeof uinputWhy);

    switch (probe.preference) {
    case PointerBackend::x11:
        if (probe.xDisplayOpens)
            say(&choice, PointerKind::x11, "XTest on the X display (pointer=x11)");
        else
            say(&choice, PointerKind::none,
                "pointer=x11 but no X display with XTest is reachable (is DISPLAY set?)");
        return choice;
    case PointerBackend::uinput:
        if (probe.uinputOpens)
            say(&choice, PointerKind::uinput, "a uinput device (pointer=uinput)");
        else
            say(&choice, PointerKind::none, "pointer=uinput but ", uinputWhy);
        return choice;
    case PointerBackend::automatic:
        break;
    }

    if (probe.waylandSession) {
        if (probe.uinputOpens)
            say(&choice, PointerKind::uinput, "a uinput device: the session is Wayland");
        else if (probe.xDisplayOpens)
            // Through Xwayland: better than nothing, and the user learns why.
            say(&choice, PointerKind::x11, "XTest, although the session is Wayland and ",
                xtestReach, "; ", uinputWhy);
        else
            say(&choice, PointerKind::none, "the session is Wayland but ", uinputWhy);
        return choice;
    }
    if (probe.xDisplayOpens)
        say(&choice, PointerKind::x11, "XTest on the X display");
    else if (probe.uinputOpens)
        say(&choice, PointerKind::uinput, "a uinput device: no X display is reachable");
    else
        say(&choice, PointerKind::none, "no X display is reachable and ", uinputWhy);
    return choice;
}
