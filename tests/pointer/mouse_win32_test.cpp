// The Windows pointer, run under wine on an X display: the cursor goes where
// it was placed, and a low-level mouse hook in this process sees the injected
// button and wheel events with their flags and wheel data.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "output/hand/air_mouse.h"
#include "output/hand/button_map.h"
#include "output/hand/mouse_feel.h"
#include "output/desktop/pointer.h"
#include "output/hand/pointer_output.h"
#include "output/desktop/screen_choice.h"
#include "settings/settings.h"

namespace {

constexpr auto hookBound = std::chrono::seconds(20);

struct HookedEvent {
    WPARAM message;
    short wheel; // high word of mouseData
    bool injected;
    bool operator==(const HookedEvent&) const = default;
};

void PrintTo(const HookedEvent& e, std::ostream* os) {
    *os << "{0x" << std::hex << e.message << std::dec << ", " << e.wheel << ", "
        << (e.injected ? "injected" : "real") << "}";
}

std::mutex hookLock;
std::condition_variable hookChanged;
std::vector<HookedEvent> hooked;

LRESULT CALLBACK mouseHook(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION && message != WM_MOUSEMOVE) {
        const auto* info = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
        std::lock_guard<std::mutex> guard(hookLock);
        hooked.push_back(HookedEvent{message, static_cast<short>(HIWORD(info->mouseData)),
                                     (info->flags & LLMHF_INJECTED) != 0});
        hookChanged.notify_all();
    }
    return CallNextHookEx(nullptr, code, message, data);
}

// Keys as the keyboard hook saw them: virtual key, up or down, and flags.
struct HookedKey {
    DWORD vk;
    bool up;
    bool extended;
    bool injected;
    bool operator==(const HookedKey&) const = default;
};

void PrintTo(const HookedKey& k, std::ostream* os) {
    *os << "{0x" << std::hex << k.vk << std::dec << (k.up ? " up" : " down")
        << (k.extended ? " extended" : "") << (k.injected ? " injected" : " real") << "}";
}

std::vector<HookedKey> hookedKeys;

LRESULT CALLBACK keyboardHook(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION) {
        const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
        std::lock_guard<std::mutex> guard(hookLock);
        hookedKeys.push_back(HookedKey{info->vkCode, (info->flags & LLKHF_UP) != 0,
                                       (info->flags & LLKHF_EXTENDED) != 0,
                                       (info->flags & LLKHF_INJECTED) != 0});
        hookChanged.notify_all();
    }
    return CallNextHookEx(nullptr, code, message, data);
}

// A thread that owns the hook and pumps the messages that deliver it.
class HookThread {
  public:
    explicit HookThread(int kind = WH_MOUSE_LL, HOOKPROC procedure = mouseHook) {
        thread = std::thread([this, kind, procedure] {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // create the queue
            HHOOK hook = SetWindowsHookExW(kind, procedure, GetModuleHandleW(nullptr), 0);
            {
                std::lock_guard<std::mutex> guard(hookLock);
                threadId = GetCurrentThreadId();
                installed = hook != nullptr;
                ready = true;
            }
            hookChanged.notify_all();
            while (hook && GetMessageW(&msg, nullptr, 0, 0) > 0)
                DispatchMessageW(&msg);
            if (hook) UnhookWindowsHookEx(hook);
        });
        std::unique_lock<std::mutex> guard(hookLock);
        hookChanged.wait_for(guard, hookBound, [this] { return ready; });
    }
    ~HookThread() {
        PostThreadMessageW(threadId, WM_QUIT, 0, 0);
        thread.join();
    }
    bool ok() {
        std::lock_guard<std::mutex> guard(hookLock);
        return installed;
    }

  private:
    std::thread thread;
    DWORD threadId = 0;
    bool ready = false, installed = false;
};

std::vector<HookedEvent> waitForEvents(size_t count) {
    std::unique_lock<std::mutex> guard(hookLock);
    hookChanged.wait_for(guard, hookBound, [count] { return hooked.size() >= count; });
    return hooked;
}

} // namespace

TEST(WindowsPointer, ReportsTheScreenSize) {
    ASSERT_TRUE(openPointer());
    int32_t w = 0, h = 0;
    ASSERT_TRUE(readScreenSize(&w, &h));
    EXPECT_EQ(w, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(h, GetSystemMetrics(SM_CYSCREEN));
    // Under the test runner the X screen's size is known.
    if (const char* expected = std::getenv("TOLVANE_EXPECT_SCREEN")) {
        char text[32];
        std::snprintf(text, sizeof text, "%dx%d", static_cast<int>(w), static_cast<int>(h));
        EXPECT_STREQ(text, expected);
    }
}

TEST(WindowsPointer, CursorGoesWhereItIsPlaced) {
    placeCursor(40, 30);
    POINT p{};
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(p.x, 40);
    EXPECT_EQ(p.y, 30);

    // Straight ahead with the screen's own size is its middle.
    int32_t w = 0, h = 0;
    ASSERT_TRUE(readScreenSize(&w, &h));
    screenWidth = w;
    screenHeight = h;
    settings.screenDistance = 1.0f;
    computeScreenDistancePixels();
    updateCursor(MotionOutput{{0, 0, 0}, {0, 0, 0, 1}});
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(p.x, w / 2);
    EXPECT_EQ(p.y, h / 2);
}

TEST(WindowsPointer, HookSeesInjectedButtonsAndWheel) {
    HookThread hook;
    ASSERT_TRUE(hook.ok());
    {
        std::lock_guard<std::mutex> guard(hookLock);
        hooked.clear();
    }
    placeCursor(50, 60);
    sendMouseEvent(mouseEventAbsolute | mouseEventLeftDown, 0);
    sendMouseEvent(mouseEventAbsolute | mouseEventLeftUp, 0);
    sendMouseEvent(mouseEventAbsolute | mouseEventRightDown, 0);
    sendMouseEvent(mouseEventAbsolute | mouseEventRightUp, 0);
    // Through the air mouse: wheel both ways at the default speed, then middle.
    setDefaults();
    resetPreviousButtons();
    injectButtons(ButtonState{{0, 0, 1, 0, 0}});
    injectButtons(ButtonState{{0, 0, 0, 1, 1}});
    injectButtons(ButtonState{{0, 0, 0, 0, 0}});
    const std::vector<HookedEvent> expected{{WM_LBUTTONDOWN, 0, true}, {WM_LBUTTONUP, 0, true},
                                            {WM_RBUTTONDOWN, 0, true}, {WM_RBUTTONUP, 0, true},
                                            {WM_MOUSEWHEEL, 4, true},  {WM_MOUSEWHEEL, -4, true},
                                            {WM_MBUTTONDOWN, 0, true}, {WM_MBUTTONUP, 0, true}};
    EXPECT_EQ(waitForEvents(expected.size()), expected);
    // The button events carry no movement: the cursor stayed where it was put.
    POINT p{};
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(p.x, 50);
    EXPECT_EQ(p.y, 60);
}

// Relative mode's records carry no MOUSEEVENTF_ABSOLUTE: a move of a few
// pixels lands beside where the cursor was, not near the screen's corner as
// the same numbers read absolutely would. Through the air mouse, a turn of
// one degree to the right moves the cursor by that degree's pixels.
TEST(WindowsPointer, RelativeMovesStartFromTheCursor) {
    // Wine applies no pointer speed of its own here; the steps stay small
    // so that no acceleration threshold is crossed either.
    placeCursor(300, 200);
    moveCursorBy(3, -2);
    POINT p{};
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(p.x, 303);
    EXPECT_EQ(p.y, 198);

    int32_t w = 0, h = 0;
    ASSERT_TRUE(readScreenSize(&w, &h));
    screenWidth = w;
    screenHeight = h;
    setDefaults();
    settings.pointerMode = PointerMode::relative;
    computeScreenDistancePixels();
    resetMouseReference();
    const MouseFeel feel = mouseFeelFromSettings();
    placeCursor(300, 200);
    // Straight ahead, then a degree to the right in steps of a tenth.
    const ButtonState none{{0, 0, 0, 0, 0}};
    double seconds = 0.0;
    for (int i = 0; i <= 10; ++i) {
        const double half = -i * 0.1 * 3.14159265358979323846 / 360.0;
        driveAirMouse(MotionOutput{{0, 0, 0},
                                   {0, static_cast<float>(std::sin(half)), 0,
                                    static_cast<float>(std::cos(half))}},
                      none, seconds += 0.01, feel);
    }
    ASSERT_TRUE(GetCursorPos(&p));
    const int degree = static_cast<int>(w * std::tan(3.14159265358979323846 / 180));
    EXPECT_NEAR(p.x, 300 + degree, 1);
    EXPECT_EQ(p.y, 200);
}

// A mapped button's chord, a key of the navigation block, a letter and a
// sign, through the buttons' map: virtual keys in order (those that type
// the character on the layout in effect: wine's is US), the extended flag
// where the key needs it, every one injected, and released at the end.
TEST(WindowsKeys, HookSeesInjectedVirtualKeys) {
    HookThread hook(WH_KEYBOARD_LL, keyboardHook);
    ASSERT_TRUE(hook.ok());
    {
        std::lock_guard<std::mutex> guard(hookLock);
        hookedKeys.clear();
    }
    ButtonActions actions[buttonCount];
    const char* lines[buttonCount] = {"PageDown", "Shift+F5", "B", "Period", ""};
    char reason[256];
    for (int k = 0; k < buttonCount; ++k) {
        TextBuilder why(reason, sizeof reason);
        ASSERT_TRUE(parseButtonActions(lines[k], &actions[k], why)) << reason;
    }
    ButtonMap map;
    setButtonMap(map, actions, 500, 300);
    ButtonState mouse;
    BridgeRequests asked;
    // A cycle's first sample with a button held waits for its release.
    driveButtonMap(map, ButtonState{{0, 0, 0, 0, 0}}, 0.00, &mouse, &asked);
    driveButtonMap(map, ButtonState{{1, 0, 0, 0, 0}}, 0.01, &mouse, &asked);
    driveButtonMap(map, ButtonState{{0, 1, 0, 0, 0}}, 0.02, &mouse, &asked);
    driveButtonMap(map, ButtonState{{0, 0, 1, 0, 0}}, 0.03, &mouse, &asked);
    driveButtonMap(map, ButtonState{{0, 0, 0, 1, 0}}, 0.04, &mouse, &asked);
    releaseButtonMap(map);
    const std::vector<HookedKey> expected{
        {VK_NEXT, false, true, true},        {VK_NEXT, true, true, true},
        {VK_LSHIFT, false, false, true},     {VK_F5, false, false, true},
        {VK_F5, true, false, true},          {VK_LSHIFT, true, false, true},
        {'B', false, false, true},           {'B', true, false, true},
        {VK_OEM_PERIOD, false, false, true}, {VK_OEM_PERIOD, true, false, true}};
    std::unique_lock<std::mutex> guard(hookLock);
    hookChanged.wait_for(guard, hookBound, [&] { return hookedKeys.size() >= expected.size(); });
    EXPECT_EQ(hookedKeys, expected);
}

// Run on its own by the runner script, which then reads the X pointer.
TEST(WindowsPointer, LeavesCursorForTheXServer) {
    const char* where = std::getenv("TOLVANE_PLACE_CURSOR");
    if (!where) GTEST_SKIP() << "only under the runner script";
    int x = 0, y = 0;
    ASSERT_EQ(std::sscanf(where, "%d,%d", &x, &y), 2);
    placeCursor(x, y);
}

// Two monitors, seen by wine from the X server's RandR monitors (the runner
// script splits one wide screen): the monitors as listed, then mouseScreen
// through the air mouse. Pointing straight ahead lands in the middle of each
// monitor, of the virtual screen for all, and of the primary one for a
// monitor that is not there. TOLVANE_LEAVE_ON=N leaves the cursor on N for
// the script to read back from the X server.
TEST(WindowsPointer, MouseScreenTakesEachMonitor) {
    const char* expected = std::getenv("TOLVANE_EXPECT_MONITORS");
    if (!expected) GTEST_SKIP() << "only under the monitors script";
    MonitorList monitors{};
    ASSERT_TRUE(readMonitors(&monitors));
    char text[512];
    TextBuilder listed(text, sizeof text);
    appendMonitors(listed, monitors);
    ASSERT_STREQ(text, expected);
    const ScreenRect& v = monitors.desktop;
    EXPECT_EQ(v.x, GetSystemMetrics(SM_XVIRTUALSCREEN));
    EXPECT_EQ(v.width, GetSystemMetrics(SM_CXVIRTUALSCREEN));

    std::vector<std::pair<int32_t, ScreenRect>> cases = {
        {mouseScreenPrimary, monitors.monitor[monitors.primary]},
        {mouseScreenAll, v},
        {monitors.count + 1, monitors.monitor[monitors.primary]}};
    for (int i = 0; i < monitors.count; ++i)
        cases.emplace_back(i + 1, monitors.monitor[i]);
    settings.mouseEnabled = 1;
    settings.screenDistance = 1.0f;
    for (const auto& [which, rect] : cases) {
        settings.mouseScreen = which;
        pointerOutput.prepare();
        updateCursor(MotionOutput{{0, 0, 0}, {0, 0, 0, 1}});
        POINT p{};
        ASSERT_TRUE(GetCursorPos(&p));
        EXPECT_EQ(p.x, rect.x + rect.width / 2) << which;
        EXPECT_EQ(p.y, rect.y + rect.height / 2) << which;
    }
    if (const char* leave = std::getenv("TOLVANE_LEAVE_ON")) {
        settings.mouseScreen = std::atoi(leave);
        pointerOutput.prepare();
        updateCursor(MotionOutput{{0, 0, 0}, {0, 0, 0, 1}});
    }
    settings.mouseScreen = mouseScreenPrimary;
}
