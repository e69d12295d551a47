#pragma once
// "tolvane-config check" and the note for "set" while the window program runs.

// Reads the settings at path as the bridge does, opens the serial port once
// and listens on the LAN port once, and prints what the headless bridge's
// notes would say about each. Returns the exit status: 0 when the port opens
// and the LAN and DSU ports (of the servers that run) are free, 1 otherwise.
int checkSettings(const char* path);

// After a successful set of path: when tolvane.exe runs and path is the
// tolv.conf of this folder, says on standard error that it will undo the
// change and what to do instead.
void noteWindowProgramAfterSet(const char* path);

// Parts of check (config_dsu.cpp, config_monitors.cpp): whether the DSU
// server could listen where dsuAddress and dsuPort say (false when it runs
// and cannot), and a warning when mouseScreen names a monitor not present.
bool checkDsuServer();
void checkMouseScreen();
// After a set of mouseScreen: the same warning on standard error.
void noteMouseScreenAfterSet();
