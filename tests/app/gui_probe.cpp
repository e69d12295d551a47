// Looks at the program's windows the way a test needs: where a control is (to
// click it), and what it shows. Prints one line; exit code 1 when not found.
//
//   gui_probe window TITLE          class x y width height visible
//   gui_probe control TITLE ID      x y width height enabled checked text
//   gui_probe client TITLE          x y width height of the client area
//   gui_probe ink TITLE X Y W H     pixels of that part of the client area that
//                                   are not the window's background colour
//
// Coordinates are screen pixels (the X root window in wine's desktop mode).
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

void printUtf8(const wchar_t* text) {
    char out[1024];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
    if (length > 0) std::fputs(out, stdout);
}

HWND findTopLevel(const wchar_t* title) {
    return FindWindowW(nullptr, title);
}

// Read from the screen, as a user sees it (wine's desktop is one X window).
long countInk(HWND window, int x, int y, int width, int height) {
    POINT origin{x, y};
    ClientToScreen(window, &origin);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    long ink = -1;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
        GdiFlush();
        const COLORREF background = GetSysColor(COLOR_WINDOW);
        const DWORD paper =
            (GetRValue(background) << 16) | (GetGValue(background) << 8) | GetBValue(background);
        ink = 0;
        const DWORD* pixel = static_cast<const DWORD*>(bits);
        for (long i = 0; i < static_cast<long>(width) * height; ++i)
            ink += (pixel[i] & 0xFFFFFFu) != paper;
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ink;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    HWND window = findTopLevel(argv[2]);
    if (window == nullptr) return 1;
    RECT r;
    if (std::wcscmp(argv[1], L"window") == 0) {
        wchar_t className[128];
        GetClassNameW(window, className, 128);
        GetWindowRect(window, &r);
        printUtf8(className);
        std::printf(" %ld %ld %ld %ld %d\n", r.left, r.top, r.right - r.left, r.bottom - r.top,
                    IsWindowVisible(window) ? 1 : 0);
        return 0;
    }
    if (std::wcscmp(argv[1], L"client") == 0) {
        GetClientRect(window, &r);
        POINT origin{0, 0};
        ClientToScreen(window, &origin);
        std::printf("%ld %ld %ld %ld\n", origin.x, origin.y, r.right, r.bottom);
        return 0;
    }
    if (std::wcscmp(argv[1], L"ink") == 0 && argc >= 7) {
        int v[4];
        for (int i = 0; i < 4; ++i)
            v[i] = static_cast<int>(std::wcstol(argv[3 + i], nullptr, 10));
        if (v[2] <= 0 || v[3] <= 0) return 2;
        std::printf("%ld\n", countInk(window, v[0], v[1], v[2], v[3]));
        return 0;
    }
    if (std::wcscmp(argv[1], L"control") == 0 && argc >= 4) {
        HWND item = GetDlgItem(window, static_cast<int>(std::wcstol(argv[3], nullptr, 10)));
        if (item == nullptr) return 1;
        GetWindowRect(item, &r);
        // WM_GETTEXT, not GetWindowTextW: across processes the latter gives an
        // edit control's stored caption, not what it shows.
        wchar_t text[256] = {};
        SendMessageW(item, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
        const LRESULT check = SendMessageW(item, BM_GETCHECK, 0, 0);
        std::printf("%ld %ld %ld %ld %d %d ", r.left, r.top, r.right - r.left, r.bottom - r.top,
                    IsWindowEnabled(item) ? 1 : 0, check == BST_CHECKED ? 1 : 0);
        printUtf8(text);
        std::printf("\n");
        return 0;
    }
    return 2;
}
