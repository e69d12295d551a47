#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "output/desktop/pointer_choice.h"
#include "output/desktop/screen_geometry.h"

namespace {

PointerChoice choose(PointerBackend preference, bool wayland, bool x, bool uinput,
                     int error = ENOENT) {
    return choosePointerBackend(PointerProbe{preference, wayland, x, uinput, uinput ? 0 : error});
}

bool says(const PointerChoice& choice, const char* text) {
    return std::strstr(choice.reason, text) != nullptr;
}

TEST(PointerChoice, AutomaticPrefersUinputUnderWaylandAndXTestOnX11) {
    const auto a = PointerBackend::automatic;
    // Wayland: the device, even with Xwayland reachable.
    EXPECT_EQ(choose(a, true, true, true).backend, PointerKind::uinput);
    EXPECT_EQ(choose(a, true, false, true).backend, PointerKind::uinput);
    // X11 session: XTest as before, whether or not uinput would open.
    EXPECT_EQ(choose(a, false, true, true).backend, PointerKind::x11);
    EXPECT_EQ(choose(a, false, true, false).backend, PointerKind::x11);
    // The console: the device.
    const PointerChoice console = choose(a, false, false, true);
    EXPECT_EQ(console.backend, PointerKind::uinput);
    EXPECT_TRUE(says(console, "no X display")) << console.reason;
}

TEST(PointerChoice, AnUnopenableDeviceNamesItsRemedy) {
    const auto a = PointerBackend::automatic;
    // Wayland without the device falls back to XTest (Xwayland) and says why.
    const PointerChoice fallback = choose(a, true, true, false, EACCES);
    EXPECT_EQ(fallback.backend, PointerKind::x11);
    EXPECT_TRUE(says(fallback, "X11 windows only")) << fallback.reason;
    EXPECT_TRUE(says(fallback, "udev rule")) << fallback.reason;

    const PointerChoice missing = choose(a, true, false, false, ENOENT);
    EXPECT_EQ(missing.backend, PointerKind::none);
    EXPECT_TRUE(says(missing, "modprobe uinput")) << missing.reason;

    const PointerChoice denied = choose(a, false, false, false, EACCES);
    EXPECT_EQ(denied.backend, PointerKind::none);
    EXPECT_TRUE(says(denied, "udev rule")) << denied.reason;
    EXPECT_TRUE(says(denied, "udevadm trigger")) << denied.reason;

    const PointerChoice other = choose(a, false, false, false, EBUSY);
    EXPECT_TRUE(says(other, std::strerror(EBUSY))) << other.reason;
}

TEST(PointerChoice, AnExplicitSettingIsObeyedOrExplained) {
    EXPECT_EQ(choose(PointerBackend::x11, true, true, true).backend, PointerKind::x11);
    const PointerChoice noX = choose(PointerBackend::x11, false, false, true);
    EXPECT_EQ(noX.backend, PointerKind::none);
    EXPECT_TRUE(says(noX, "pointer=x11")) << noX.reason;

    EXPECT_EQ(choose(PointerBackend::uinput, false, true, true).backend, PointerKind::uinput);
    const PointerChoice noDevice = choose(PointerBackend::uinput, false, true, false, EPERM);
    EXPECT_EQ(noDevice.backend, PointerKind::none);
    EXPECT_TRUE(says(noDevice, "pointer=uinput")) << noDevice.reason;
    EXPECT_TRUE(says(noDevice, "udev rule")) << noDevice.reason;
}

TEST(ScreenGeometry, TheDesktopIsTheBoxAroundEveryOutput) {
    int32_t w = 0, h = 0;
    // One output, and one at scale 2 (logical pixels are half its mode).
    const OutputGeometry one[] = {{0, 0, 1920, 1080, 1, 0}};
    ASSERT_TRUE(desktopExtent(one, 1, &w, &h));
    EXPECT_EQ(w, 1920);
    EXPECT_EQ(h, 1080);
    const OutputGeometry hidpi[] = {{0, 0, 3840, 2160, 2, 0}};
    ASSERT_TRUE(desktopExtent(hidpi, 1, &w, &h));
    EXPECT_EQ(w, 1920);
    EXPECT_EQ(h, 1080);

    // Side by side at different heights, the right one turned by a quarter
    // (transform 1: 90 degrees), and one left of the origin.
    const OutputGeometry several[] = {
        {0, 0, 2560, 1440, 1, 0}, {2560, 200, 1920, 1080, 1, 1}, {-1280, 0, 1280, 1024, 1, 0}};
    ASSERT_TRUE(desktopExtent(several, 3, &w, &h));
    EXPECT_EQ(w, 1280 + 2560 + 1080);
    EXPECT_EQ(h, 200 + 1920);
    // The same outputs as monitors, from the box's corner (the device's 0,0).
    MonitorList monitors;
    ASSERT_TRUE(desktopMonitors(several, 3, &monitors));
    ASSERT_EQ(monitors.count, 3);
    EXPECT_EQ(monitors.primary, -1);
    EXPECT_EQ(monitors.desktop.width, w);
    const ScreenRect expected[] = {
        {1280, 0, 2560, 1440}, {1280 + 2560, 200, 1080, 1920}, {0, 0, 1280, 1024}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(monitors.monitor[i].x, expected[i].x) << i;
        EXPECT_EQ(monitors.monitor[i].y, expected[i].y) << i;
        EXPECT_EQ(monitors.monitor[i].width, expected[i].width) << i;
        EXPECT_EQ(monitors.monitor[i].height, expected[i].height) << i;
    }

    // Outputs without a current mode count for nothing.
    const OutputGeometry none[] = {{0, 0, 0, 0, 1, 0}};
    EXPECT_FALSE(desktopExtent(none, 1, &w, &h));
    EXPECT_FALSE(desktopExtent(none, 0, &w, &h));
}

} // namespace
