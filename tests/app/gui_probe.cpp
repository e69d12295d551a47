// Looks at the program's windows the way a test needs: where a control is (to
// click it), and what it shows. Prints one line; exit code 1 when not found.
//
//   gui_probe window TITLE          class x y width height visible
//   gui_probe control TITLE ID      x y width height enabled checked text
//   gui_probe client TITLE          x y width height of the client area
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
