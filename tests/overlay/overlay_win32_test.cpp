// The overlay's Windows windows, run under wine on a private Xvfb: one
// layered, click-through, topmost tool window over each monitor, its pixels
// where the screen shows them, and the screen read back without them.
// TOLVANE_EXPECT_MONITORS: the monitors as "X,Y,W,H;..." (the script knows
// the layout it made).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "output/overlay/overlay_windows.h"

namespace {

std::vector<HWND> overlayWindowsOfThisThread() {
    std::vector<HWND> found;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND hwnd, LPARAM list) {
            wchar_t name[64] = L"";
            GetClassNameW(hwnd, name, 64);
            if (std::wstring(name) == L"tolvane overlay")
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string text(const OverlayRect& r) {
    return std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.width) + "," +
           std::to_string(r.height);
}

constexpr uint32_t dimmed = 0x99000000u; // 60 % black, premultiplied
constexpr int radius = 40;

OverlayImage spotImage(const OverlayRect& area, int cx, int cy) {
    OverlayImage image{area, std::vector<uint32_t>(static_cast<size_t>(area.width) *
                                                   static_cast<size_t>(area.height))};
    for (int y = 0; y < area.height; ++y)
        for (int x = 0; x < area.width; ++x) {
            const int dx = area.x + x - cx, dy = area.y + y - cy;
            image.pixels[static_cast<size_t>(y) * static_cast<size_t>(area.width) +
                         static_cast<size_t>(x)] =
                dx * dx + dy * dy <= radius * radius ? 0 : dimmed;
        }
    return image;
}

// A plain window in one colour: what the overlay lies over.
HWND paintedWindow(const OverlayRect& r, COLORREF colour) {
    WNDCLASSEXW c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = DefWindowProcW;
    c.hInstance = GetModuleHandleW(nullptr);
    c.hbrBackground = CreateSolidBrush(colour);
    c.lpszClassName = L"tolvane overlay test";
    RegisterClassExW(&c);
    HWND hwnd = CreateWindowExW(0, c.lpszClassName, L"below", WS_POPUP | WS_VISIBLE, r.x, r.y,
                                r.width, r.height, nullptr, nullptr, c.hInstance, nullptr);
    UpdateWindow(hwnd);
    return hwnd;
}

void pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&m);
}

TEST(WindowsOverlay, OneClickThroughWindowOverEachMonitor) {
    auto windows = openOverlayWindows();
    ASSERT_TRUE(windows);
    const OverlayAbilities can = windows->abilities();
    EXPECT_TRUE(can.canDraw);
    EXPECT_TRUE(can.canBlend);
    EXPECT_GT(can.framesPerSecond, 0);
    const auto areas = windows->areas();
    std::string listed;
    for (const auto& a : areas)
        listed += (listed.empty() ? "" : ";") + text(a);
    if (const char* expected = std::getenv("TOLVANE_EXPECT_MONITORS")) {
        EXPECT_EQ(listed, expected);
    }
    ASSERT_FALSE(areas.empty());

    for (size_t i = 0; i < areas.size(); ++i) {
        const OverlayRect& a = areas[i];
        windows->show(i, spotImage(a, a.x + a.width / 2, a.y + a.height / 2), {a});
    }
    // In z-order, not the areas' order: compared as sets of rectangles.
    const auto shown = overlayWindowsOfThisThread();
    ASSERT_EQ(shown.size(), areas.size());
    std::vector<std::string> placed, wanted;
    for (HWND hwnd : shown) {
        const LONG_PTR ex = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
        const LONG_PTR styles =
            WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
        EXPECT_EQ(ex & styles, styles) << std::hex << ex;
        EXPECT_TRUE(GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_POPUP);
        EXPECT_TRUE(IsWindowVisible(hwnd));
        RECT r;
        ASSERT_TRUE(GetWindowRect(hwnd, &r));
        placed.push_back(text({r.left, r.top, r.right - r.left, r.bottom - r.top}));
    }
    for (const auto& a : areas)
        wanted.push_back(text(a));
    std::sort(placed.begin(), placed.end());
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(placed, wanted);
    windows->hide();
    for (HWND hwnd : overlayWindowsOfThisThread())
        EXPECT_FALSE(IsWindowVisible(hwnd));
}

// Grabs until the box reads as `colour`, for at most 10 s (the X server
// maps and paints in its own time).
bool grabComes(OverlayWindows* windows, const OverlayRect& box, uint32_t colour) {
    for (int tries = 0; tries < 200; ++tries) {
        OverlayImage got;
        if (windows->grab(box, &got) && got.area.width == box.width &&
            got.pixels.size() == static_cast<size_t>(box.width * box.height) &&
            std::all_of(got.pixels.begin(), got.pixels.end(),
                        [&](uint32_t p) { return p == colour; }))
            return true;
        pump();
        Sleep(50);
    }
    return false;
}

bool fileComes(const char* path) {
    for (int tries = 0; tries < 1200; ++tries) {
        if (FILE* f = std::fopen(path, "r")) {
            std::fclose(f);
            return true;
        }
        pump();
        Sleep(50);
    }
    return false;
}

// A spotlight over a light grey window, moved once: the screen is read back
// before and while it shows; with TOLVANE_SHOWN_MARK the script takes its screenshot.
TEST(WindowsOverlay, ShowsTheSpotOverTheWindowBelow) {
    auto windows = openOverlayWindows();
    const auto areas = windows->areas();
    ASSERT_FALSE(areas.empty());
    const OverlayRect a = areas[0];
    HWND below = paintedWindow(a, RGB(250, 250, 250));
    const int cx = a.x + 200, cy = a.y + 150;
    const OverlayRect spot{cx - 10, cy - 10, 20, 20};
    // BitBlt leaves the alpha byte 0: grab makes the screen opaque.
    EXPECT_TRUE(grabComes(windows.get(), spot, 0xfffafafau)) << "the window below never showed";

    // First at 600,400, then moved: the move repaints only the two spots'
    // boxes, and the script finds the first spot dimmed again.
    const int firstX = a.x + 600, firstY = a.y + 400;
    windows->show(0, spotImage(a, firstX, firstY), {a});
    windows->show(0, spotImage(a, cx, cy),
                  {{firstX - radius, firstY - radius, 2 * radius + 1, 2 * radius + 1},
                   {cx - radius, cy - radius, 2 * radius + 1, 2 * radius + 1}});
    const char* shown = std::getenv("TOLVANE_SHOWN_MARK");
    const char* taken = std::getenv("TOLVANE_TAKEN_MARK");
    if (shown && taken) {
        if (FILE* f = std::fopen(shown, "w")) std::fclose(f);
        EXPECT_TRUE(fileComes(taken)) << "no screenshot was taken";
    }
    // Inside the spot the overlay is clear: the window below, whether or not
    // the screen read includes layered windows (wine's does).
    EXPECT_TRUE(grabComes(windows.get(), spot, 0xfffafafau));
    windows->hide();
    for (HWND hwnd : overlayWindowsOfThisThread())
        EXPECT_FALSE(IsWindowVisible(hwnd));
    DestroyWindow(below);
}

} // namespace
