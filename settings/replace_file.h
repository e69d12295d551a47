#pragma once
// Replaces a small text file in one step: the new text goes to a temporary
// file in the same folder, is flushed to the disk, and is renamed over the old
// file, so that readers see either the old file or the new one, never a part.
// replace_file_posix.cpp, replace_file_win32.cpp.

#include <cstddef>
#include <cstdint>

// Writes text as a text-mode stream would (on Windows each "\n" becomes CR LF).
// A symbolic link is followed, whether its target exists or not: the target
// is replaced or created, the link stays. The file keeps its permissions; a
// new one gets those a plain create would give it. False, with the system's
// reason, the old file untouched and no temporary file left, when anything
// fails (a full disk or a file size limit among them).
bool replaceFileText(const char* path, const char* text, size_t length, char* reason,
                     size_t reasonSize);

// Keeps other writers that take the same lock away from the file at path
// while one reads, changes and replaces it. POSIX: flock on the folder that
// holds the file (through links), so that nothing is left beside it; Windows:
// LockFileEx on PATH.lock, removed when the last holder closes it. Waits a
// few seconds for another holder, then fails with the reason.
struct FileLock {
    intptr_t handle = -1;
};
bool lockFileForChange(const char* path, FileLock* lock, char* reason, size_t reasonSize);
void unlockFile(FileLock* lock);
