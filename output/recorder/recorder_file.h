#pragma once
// The capture file at the system level: appends that are either whole or
// undone, so that a full disk or a file size limit never leaves half a line.

#include <cstddef>
#include <cstdint>

struct RecorderFile {
    int descriptor = -1;
    int64_t size = 0; // what the file holds, all of it whole lines
};

// Opens (or creates) path for appending. error gets the system's error number.
bool openRecorderFile(const char* path, RecorderFile* file, int* error);
// Appends length bytes whole, or takes back what part of them went out.
bool appendRecorderFile(RecorderFile* file, const char* data, size_t length, int* error);
void closeRecorderFile(RecorderFile* file);
