// What a held-buttons test needs from inside wine's desktop, one line each;
// exit code 1 when the window is not there.
//
//   held_probe buttons             left right middle: 1 down, 0 up
//   held_probe command TITLE ID    posts the menu command ID to window TITLE
//   held_probe close TITLE         posts WM_CLOSE to window TITLE
//
// The buttons are the desktop's, as any program sees them: wine keeps one
// state per desktop, and injected buttons never reach the X server. The
// commands are posted, not clicked: a click from the X side would itself
// press and release the left button the test watches.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

int down(int key) {
    return (GetAsyncKeyState(key) & 0x8000) != 0 ? 1 : 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && std::wcscmp(argv[1], L"buttons") == 0) {
        std::printf("%d %d %d\n", down(VK_LBUTTON), down(VK_RBUTTON), down(VK_MBUTTON));
        return 0;
    }
    if (argc < 3) return 2;
    HWND window = FindWindowW(nullptr, argv[2]);
    if (window == nullptr) return 1;
    if (std::wcscmp(argv[1], L"command") == 0 && argc >= 4)
        return PostMessageW(window, WM_COMMAND, std::wcstoul(argv[3], nullptr, 10), 0) ? 0 : 1;
    if (std::wcscmp(argv[1], L"close") == 0) return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    return 2;
}
