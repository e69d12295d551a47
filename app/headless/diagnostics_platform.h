#pragma once
// What the notes need from the system: diagnostics_posix.cpp,
// diagnostics_win32.cpp.

#include "text/number_text.h"

// The absolute form of path, also for a file that does not exist.
void appendAbsolutePath(TextBuilder& text, const char* path);

// Why the port named name did not open, for the system's error number of
// that open (see lastSerialOpenError), and what to do about it.
void appendSerialOpenFailure(TextBuilder& text, const char* name, int error);
