#pragma once
// What every shell does before its first Run: the socket layer, the default
// settings and then the settings file, the pointer and the screen size.

// Starts the socket layer, sets the defaults, reads the settings file at path,
// calls settingsRead (when given), opens the pointer (which may say its
// choice as a note) and reads the primary screen's size into
// screenWidth/screenHeight (0 x 0 when no display can be reached). Returns
// whether a screen size was read.
bool startShell(const char* settingsPath, void (*settingsRead)() = nullptr);

// The counterpart at exit: stops the socket layer and lets go of the display.
void stopShell();

// Reads the keyed lines of the settings file at path again, as a start would
// (a keyed setting the file no longer holds is back at its default), and
// keeps the eleven lines' values in effect as they are. A file that cannot
// be read changes nothing. For the window program's Run: `tolvane-config
// set` of a keyed setting takes effect there, the dialog's values stay.
void readKeyedSettings(const char* path);
