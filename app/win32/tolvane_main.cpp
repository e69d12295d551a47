// Process entry of the Windows program: start-up, message loop, exit code.
#include "app/event_log.h"
#include "app/win32/resource.h"
#include "app/win32/win32_shell.h"
#include "output/air_mouse.h"
#include "output/lan_server.h"
#include "output/pointer.h"
#include "settings/settings.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    static wchar_t title[100];
    static wchar_t className[100];
    LoadStringW(instance, IDS_APP_TITLE, title, 100);
    LoadStringW(instance, IDS_WINDOW_CLASS, className, 100);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LARGE_ICON));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDM_MAIN_MENU);
    windowClass.lpszClassName = className;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL_ICON));
    RegisterClassExW(&windowClass);

    int32_t width = 0;
    int32_t height = 0;
    readScreenSize(&width, &height); // GetSystemMetrics on Windows
    screenWidth = width;
    screenHeight = height;

    startSocketLayer();
    appInstance = instance;

    HWND window = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 400, 250, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 0;

    setDefaults();
    readSettingsFile();
    setLogListener(forwardToDebugger);

    ShowWindow(window, showCommand);
    UpdateWindow(window);
    mainWindow = window;

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDA_ACCELERATORS));
    MSG message{};
    // GetMessageW gives -1 on an error; that ends the loop too instead of spinning.
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorW(message.hwnd, accelerators, &message) == 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    stopSocketLayer();
    return static_cast<int>(message.wParam);
}
