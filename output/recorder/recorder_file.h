#pragma once
// The capture file at the system level: appends that are either whole or
// undone, so that a full disk or a file size limit never leaves half a line;
// and an open that never waits, whatever the path names.

#include <cstddef>
#include <cstdint>

enum class RecorderFileKind {
    regular, // a file: appended to, read back, cut back after a failed write
    stream,  // a FIFO, a terminal, /dev/null and other character devices: written in order only
    other,   // a block device, or anything else the recorder does not write
};

struct RecorderFile {
    int descriptor = -1;
    int64_t size = 0; // what a regular file holds, all of it whole lines
    RecorderFileKind kind = RecorderFileKind::regular;
};

// Opens (or creates) path for appending without waiting for anything: a FIFO
// that nobody reads fails with ENXIO at once, a terminal is not waited on.
// Writes that follow block as usual (they happen on the recorder's thread).
// error gets the system's error number.
bool openRecorderFile(const char* path, RecorderFile* file, int* error);

// The first bytes (at most size) and the last byte of a regular file that
// holds something, read through a descriptor of its own that must reach the
// same file. Reads no more than that, however large the file. False, with
// the error, when the file cannot be read.
bool readRecorderFileEnds(const char* path, const RecorderFile& file, char* head, size_t size,
                          size_t* length, int* last, int* error);

// Appends length bytes whole, or takes back what part of them went out (a
// stream cannot take anything back).
bool appendRecorderFile(RecorderFile* file, const char* data, size_t length, int* error);
void closeRecorderFile(RecorderFile* file);
