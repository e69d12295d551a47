// The overlay on Windows: one layered window per monitor, painted with
// UpdateLayeredWindow from a premultiplied 32-bit DIB section. It is a tool
// window (no taskbar button, no Alt+Tab), topmost, and transparent to input,
// so that every click goes to the window below. It stays in screenshots and
// screen shares: that is what it is for (no SetWindowDisplayAffinity).
//
// The windows belong to the thread that calls, the overlay's drawing thread,
// which must also be the one that destroys them. It has no message loop of
// its own, so show and hide pump the windows' messages (pumpMessages) before
// they return; nothing else needs to.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "output/overlay/overlay_windows.h"
#include "protocol/output_note.h"

namespace {

const wchar_t windowClass[] = L"tolvane overlay";
constexpr size_t maxWindows = 64; // more monitors than any desktop has

// Per-monitor DPI awareness while the overlay's calls run, so that each
// monitor's window is placed and sized in that monitor's own pixels. It is
// the thread's and given back afterwards: whatever else the thread does (the
// main window, its dialogs) keeps the awareness of the program's manifest,
// and a window keeps the awareness it was made with. The call exists from
// Windows 10 1607 on: looked up at run time; older systems keep the default.
class PerMonitorAware {
  public:
    PerMonitorAware() {
        static const SetAwareness set = [] {
            HMODULE user = GetModuleHandleW(L"user32.dll");
            return user ? reinterpret_cast<SetAwareness>(reinterpret_cast<void*>(
                              GetProcAddress(user, "SetThreadDpiAwarenessContext")))
                        : nullptr;
        }();
        if (!set) return;
        restore = set;
        // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, else its first version.
        previous = set(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4)));
        if (!previous) previous = set(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-3)));
    }
    ~PerMonitorAware() {
        if (restore && previous) restore(previous);
    }
    PerMonitorAware(const PerMonitorAware&) = delete;
    PerMonitorAware& operator=(const PerMonitorAware&) = delete;

  private:
    using SetAwareness = HANDLE(WINAPI*)(HANDLE);
    SetAwareness restore = nullptr;
    HANDLE previous = nullptr;
};

BOOL CALLBACK addMonitor(HMONITOR, HDC, LPRECT box, LPARAM list) {
    reinterpret_cast<std::vector<OverlayRect>*>(list)->push_back(
        {box->left, box->top, box->right - box->left, box->bottom - box->top});
    return TRUE;
}

std::vector<OverlayRect> listMonitors() {
    std::vector<OverlayRect> monitors;
    EnumDisplayMonitors(nullptr, nullptr, addMonitor, reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

bool registerClass() {
    static const bool registered = [] {
        WNDCLASSEXW c{};
        c.cbSize = sizeof c;
        c.lpfnWndProc = DefWindowProcW;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = windowClass;
        return RegisterClassExW(&c) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

// A 32-bit top-down DIB section selected into a memory DC: its bytes are
// B, G, R, A, so a row of 0xAARRGGBB values is copied as it is.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    uint32_t* pixels = nullptr;
    int32_t width = 0, height = 0;

    bool make(int32_t w, int32_t h) {
        drop();
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h; // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!dc || !bitmap) {
            drop();
            return false;
        }
        previous = SelectObject(dc, bitmap);
        pixels = static_cast<uint32_t*>(bits);
        width = w;
        height = h;
        return true;
    }
    void drop() {
        if (dc && previous) SelectObject(dc, previous);
        if (bitmap) DeleteObject(bitmap);
        if (dc) DeleteDC(dc);
        *this = Canvas{};
    }
};

struct Window {
    HWND hwnd = nullptr;
    Canvas canvas;
    OverlayRect area; // where it was last put
    bool shown = false;
};

OverlayRect intersect(const OverlayRect& a, const OverlayRect& b) {
    const int32_t left = std::max(a.x, b.x), top = std::max(a.y, b.y);
    const int32_t right = std::min(a.x + a.width, b.x + b.width);
    const int32_t bottom = std::min(a.y + a.height, b.y + b.height);
    if (right <= left || bottom <= top) return {};
    return {left, top, right - left, bottom - top};
}

// Only the overlay's own windows' messages: on any other thread's loop (the
// main window's) this takes nothing that loop waits for, WM_QUIT included.
// Messages sent from other threads are delivered by the peek itself.
void pumpMessages(const std::vector<Window>& windows) {
    MSG message;
    for (const Window& w : windows)
        while (w.hwnd && PeekMessageW(&message, w.hwnd, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
}

class Win32OverlayWindows final : public OverlayWindows {
  public:
    ~Win32OverlayWindows() override {
        for (Window& w : windows) {
            if (w.hwnd) DestroyWindow(w.hwnd);
            w.canvas.drop();
        }
    }

    std::vector<OverlayRect> areas() override {
        PerMonitorAware aware;
        return listMonitors();
    }

    OverlayAbilities abilities() override {
        OverlayAbilities a;
        a.canDraw = registerClass() && !listMonitors().empty();
        // Layered windows are blended by the system itself, composited or not.
        a.canBlend = a.canDraw;
        DEVMODEW mode{};
        mode.dmSize = sizeof mode;
        // 0 and 1 mean "the hardware's default".
        if (EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode) &&
            mode.dmDisplayFrequency > 1)
            a.framesPerSecond = static_cast<int>(mode.dmDisplayFrequency);
        return a;
    }

    void show(size_t index, const OverlayImage& image,
              const std::vector<OverlayRect>& changed) override;

    void hide() override {
        for (Window& w : windows)
            if (w.hwnd && w.shown) {
                ShowWindow(w.hwnd, SW_HIDE);
                w.shown = false;
            }
        pumpMessages(windows);
    }

    bool grab(const OverlayRect& area, OverlayImage* out) override;

  private:
    bool ensureWindow(Window* w);
    std::vector<Window> windows;
    bool failureSaid = false;
};

bool Win32OverlayWindows::ensureWindow(Window* w) {
    if (w->hwnd) return true;
    if (!registerClass()) return false;
    // No activation either: showing it never takes the focus from the slides.
    w->hwnd = CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_TOPMOST |
                                  WS_EX_NOACTIVATE,
                              windowClass, L"tolvane overlay", WS_POPUP, 0, 0, 1, 1, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!w->hwnd && !failureSaid) {
        sayNote("overlay", NoteLevel::problem, "the overlay's window could not be made (error %lu)",
                GetLastError());
        failureSaid = true;
    }
    return w->hwnd != nullptr;
}

void Win32OverlayWindows::show(size_t index, const OverlayImage& image,
                               const std::vector<OverlayRect>& changed) {
    const OverlayRect& area = image.area;
    PerMonitorAware aware;
    if (index >= maxWindows || area.width <= 0 || area.height <= 0 ||
        image.pixels.size() < static_cast<size_t>(area.width) * static_cast<size_t>(area.height))
        return;
    if (windows.size() <= index) windows.resize(index + 1);
    Window& w = windows[index];
    if (!ensureWindow(&w)) return;

    const bool moved = area.x != w.area.x || area.y != w.area.y || area.width != w.area.width ||
                       area.height != w.area.height;
    bool whole = moved || !w.shown;
    if (w.canvas.width != area.width || w.canvas.height != area.height) {
        if (!w.canvas.make(area.width, area.height)) return;
        whole = true;
    }
    // Only the changed rectangles are copied; UpdateLayeredWindowIndirect
    // then repaints only the box around them.
    std::vector<OverlayRect> copy;
    if (whole) {
        copy.push_back(area);
    } else {
        for (const OverlayRect& c : changed) {
            const OverlayRect r = intersect(c, area);
            if (r.width > 0) copy.push_back(r);
        }
        if (copy.empty()) return;
    }
    RECT dirty{LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
    for (const OverlayRect& r : copy) {
        for (int32_t y = r.y; y < r.y + r.height; ++y) {
            const size_t at = static_cast<size_t>(y - area.y) * static_cast<size_t>(area.width) +
                              static_cast<size_t>(r.x - area.x);
            std::memcpy(w.canvas.pixels + at, image.pixels.data() + at,
                        static_cast<size_t>(r.width) * 4u);
        }
        dirty.left = std::min<LONG>(dirty.left, r.x - area.x);
        dirty.top = std::min<LONG>(dirty.top, r.y - area.y);
        dirty.right = std::max<LONG>(dirty.right, r.x - area.x + r.width);
        dirty.bottom = std::max<LONG>(dirty.bottom, r.y - area.y + r.height);
    }
    GdiFlush(); // the DIB's bytes are ours to write only between GDI calls

    POINT origin{area.x, area.y}, zero{0, 0};
    SIZE size{area.width, area.height};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    UPDATELAYEREDWINDOWINFO update{};
    update.cbSize = sizeof update;
    update.pptDst = &origin;
    update.psize = &size;
    update.hdcSrc = w.canvas.dc;
    update.pptSrc = &zero;
    update.pblend = &blend;
    update.dwFlags = ULW_ALPHA;
    update.prcDirty = whole ? nullptr : &dirty;
    if (!UpdateLayeredWindowIndirect(w.hwnd, &update)) {
        // Some systems refuse a dirty box; the whole window always goes.
        UpdateLayeredWindow(w.hwnd, nullptr, &origin, &size, w.canvas.dc, &zero, 0, &blend,
                            ULW_ALPHA);
    }
    w.area = area;
    if (!w.shown) {
        SetWindowPos(w.hwnd, HWND_TOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        w.shown = true;
    }
    pumpMessages(windows);
}

bool Win32OverlayWindows::grab(const OverlayRect& area, OverlayImage* out) {
    PerMonitorAware aware;
    if (area.width <= 0 || area.height <= 0) return false;
    Canvas canvas;
    if (!canvas.make(area.width, area.height)) return false;
    HDC screen = GetDC(nullptr);
    // Without CAPTUREBLT the layered windows, the overlay's own, are left out.
    const bool read =
        screen && BitBlt(canvas.dc, 0, 0, area.width, area.height, screen, area.x, area.y, SRCCOPY);
    if (screen) ReleaseDC(nullptr, screen);
    if (read) {
        GdiFlush();
        out->area = area;
        const size_t count = static_cast<size_t>(area.width) * static_cast<size_t>(area.height);
        out->pixels.assign(canvas.pixels, canvas.pixels + count);
        for (uint32_t& p : out->pixels)
            p |= 0xff000000u; // the screen is opaque; BitBlt leaves the alpha byte 0
    }
    canvas.drop();
    return read;
}

} // namespace

std::unique_ptr<OverlayWindows> openOverlayWindows() {
    return std::make_unique<Win32OverlayWindows>();
}
