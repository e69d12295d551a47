#pragma once
// Replaces a small text file in one step: the new text goes to a temporary
// file in the same folder, is flushed to the disk, and is renamed over the old
// file, so that readers see either the old file or the new one, never a part.
// replace_file_posix.cpp, replace_file_win32.cpp.

#include <cstddef>

// Writes text as a text-mode stream would (on Windows each "\n" becomes CR LF).
// A symbolic link is followed: its target is replaced. The file keeps its
// permissions; a new one gets those a plain create would give it. False, with
// the system's reason and the old file untouched, when anything fails.
bool replaceFileText(const char* path, const char* text, size_t length, char* reason,
                     size_t reasonSize);
