#pragma once
// Whether the window program runs on this desktop: on Windows, a window of
// the class tolvane.exe registers (its working folder cannot be seen from
// here); never on other systems, where there is no window program.
bool windowProgramRuns();

// Whether path names the file that the window program reads when it starts
// in this folder, "tolv.conf", by whatever name (a link, another spelling).
bool isWindowSettingsFile(const char* path);
