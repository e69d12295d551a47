#include "tools/config/window_program.h"

#include <windows.h>

bool windowProgramRuns() {
    // The class name of tolvane.exe's main window, from its string table.
    return FindWindowW(L"TOLVANE", nullptr) != nullptr;
}
