// Process entry of the Windows program: start-up, message loop, exit code.
#include "app/shell_startup.h"
#include "app/win32/resource.h"
#include "app/win32/win32_shell.h"
#include "app/win32/window_notes.h"
#include "measurement/event_log.h"
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

    appInstance = instance;
    // Once, for every output: what they have to say goes to the notes line.
    setNoteListener(showOutputNote);
    startShell(settingsFileName);

    HWND window = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 400, 250, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 0;
    // A second program starts as the first did, but whichever opens the port
    // first keeps it: the notes line says so until the other has gone.
    checkOtherProgram(window);

    setLogListener(forwardToDebugger);
    setRepaintListener(requestLogRepaint);

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

    stopShell();
    setNoteListener(nullptr);
    return static_cast<int>(message.wParam);
}
