#pragma once
// Waiting for the console's request to end the program: SIGINT/SIGTERM on
// POSIX (and SIGHUP, SIGQUIT), Ctrl+C, Ctrl+Break and the console closing on Windows.
// stop_signal_posix.cpp, stop_signal_win32.cpp.

// Called once at start-up, before any other thread is started.
void prepareStopSignal();
// Blocks until such a request has arrived.
void waitForStopSignal();
