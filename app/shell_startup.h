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
