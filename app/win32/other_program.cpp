// Whether another tolvane.exe runs: whichever opens the port first keeps it,
// so the notes line says so for as long as the other one runs.
#include "app/win32/resource.h"
#include "app/win32/win32_shell.h"
#include "app/win32/window_notes.h"

namespace {

constexpr UINT lookAgainMs = 2000;

HANDLE programName = nullptr; // held once this program is the only one
bool noteShown = false;       // window thread only

} // namespace

void checkOtherProgram(HWND window) {
    if (programName != nullptr) return;
    HANDLE name = CreateMutexW(nullptr, FALSE, L"Local\\tolvane.exe");
    if (name != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(name);
        if (!noteShown)
            showProgramNote(instanceSource, IDS_NOTE_SECOND_PROGRAM, NoteLevel::problem);
        noteShown = true;
        if (window != nullptr) SetTimer(window, otherProgramTimer, lookAgainMs, nullptr);
        return;
    }
    // The name lives as long as this process holds it. A name that cannot be
    // made at all leaves nothing to look at again.
    programName = name != nullptr ? name : INVALID_HANDLE_VALUE;
    if (noteShown) forgetNote(instanceSource);
    noteShown = false;
    if (window != nullptr) KillTimer(window, otherProgramTimer);
}
