#pragma once
// The search for one device line in a stream of bytes: skip to the sync byte,
// then take it and the bytes after it in one block. The serial link reads a
// port this way and tolvane-decode a capture, so both find the same lines.

#include <atomic>

// Reads up to count bytes into out and sets *got to how many came; false when
// the source failed or ended.
using LineByteSource = bool (*)(void* source, char* out, int count, int* got);

struct FoundLine {
    int length = 0;        // bytes in line from the sync byte; 0: no sync byte came
    bool complete = false; // all deviceLineLength bytes arrived
};

// line must hold deviceLineLength + 1 bytes; it always ends with a NUL after
// what arrived. Once *stop is set (when given), any byte ends the search as a
// sync byte would, so that a device streaming noise cannot hold the caller.
FoundLine searchDeviceLine(LineByteSource read, void* source, const std::atomic<bool>* stop,
                           char* line);
