// The main window: its procedure, the log painting and the About box.
#include "app/shell_startup.h"
#include "app/win32/resource.h"
#include "app/win32/win32_shell.h"
#include "app/win32/window_notes.h"
#include "measurement/event_log.h"
#include "measurement/worker.h"
#include "settings/settings.h"
#include "text/number_text.h"

std::atomic<HWND> mainWindow{nullptr};
HINSTANCE appInstance = nullptr;

void paintLog(bool refresh) {
    HWND window = mainWindow.load();
    // Before the window is recorded nothing is drawn; the window stays marked
    // for repainting and is painted once the message loop runs.
    if (window == nullptr) return;
    if (refresh) {
        // The worker only asks; the window thread draws in its paint handler.
        InvalidateRect(window, nullptr, TRUE);
        return;
    }
    static char text[eventLogTextSize]; // window thread only
    const size_t length = buildLogText(text);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT area{10, 10, 300, 300};
    DrawTextA(dc, text, static_cast<int>(length), &area, 0);
    paintNotes(dc, window);
    EndPaint(window, &paint);
}

void requestLogRepaint() {
    paintLog(true);
}

void forwardToDebugger(const char* message) {
    char line[eventLogEntryLength + 1];
    TextBuilder out(line, sizeof line);
    out.append(message);
    out.append("\n");
    OutputDebugStringA(line);
}

INT_PTR CALLBACK aboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        // Only the low word: menu items and accelerators give the same commands.
        switch (LOWORD(wParam)) {
        case IDM_ABOUT:
            DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_ABOUT_BOX), window, aboutBoxProc, 0);
            return 0;
        case IDM_EXIT:
            DestroyWindow(window);
            return 0;
        case IDM_SETTINGS:
            DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_SETTINGS), window, settingsDialogProc,
                            0);
            return 0;
        case IDM_RUN:
            forgetMeasurementNotes();
            checkOtherProgram(window);
            // `tolvane-config set` of a keyed setting takes effect here; the
            // eleven lines stay as the dialog set them.
            runMeasurement([] { readKeyedSettings(settingsFileName); });
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    case WM_PAINT:
        paintLog(false);
        return 0;
    case WM_TIMER:
        if (wParam != otherProgramTimer) return DefWindowProcW(window, message, wParam, lParam);
        checkOtherProgram(window);
        return 0;
    case WM_DESTROY:
        // A worker still finishing must not ask a destroyed window to repaint.
        mainWindow = nullptr;
        shutdownMeasurement();
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
