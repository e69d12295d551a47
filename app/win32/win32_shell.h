#pragma once
// The Windows shell's window and dialog procedures, kept out of the process
// entry so that tests can drive them on their own windows.

#include <windows.h>

#include <atomic>

// The main window, recorded once it has been shown; paintLog draws into it.
extern std::atomic<HWND> mainWindow;
// The instance the dialogs are created from.
extern HINSTANCE appInstance;

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK settingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Draws the log into the main window; with refresh set it only invalidates
// the window, which then draws on its own thread.
void paintLog(bool refresh);
// The repaint listener the event log calls from the worker's thread.
void requestLogRepaint();

// Holds the program's name (a named mutex) unless another tolvane.exe does.
// While another does, the notes line says so, the name is not kept open here
// (that would keep it alive after the other has gone), and a timer on window
// looks again until this program holds it and the note is forgotten.
void checkOtherProgram(HWND window);
constexpr UINT_PTR otherProgramTimer = 1;

// Passes every log message to an attached debugger (or wine's debug channel),
// so that the log can be read without looking at the window.
void forwardToDebugger(const char* message);
