#pragma once
// Whether the window program runs on this desktop: on Windows, a window of
// the class tolvane.exe registers (its working folder cannot be seen from
// here); never on other systems, where there is no window program.
bool windowProgramRuns();
