#pragma once
// The simulator's faults: which line goes wrong and how. Pure bookkeeping
// over the count of lines sent, so that each fault can be checked without a
// terminal.

#include <cstddef>
#include <cstdio>

struct FaultOptions {
    long badChecksumEvery = 0; // every Nth line has a wrong checksum (0: never)
    long garbageBytes = 0;     // noise bytes before every line
    long cutEvery = 0;         // every Nth line stops early (0: never) ...
    long cutLength = 61;       // ... after this many bytes
    long silenceAfter = 0;     // nothing after N lines (0: no silence, -1: from the start)
    long hangupAfter = 0;      // the terminal goes away after every N lines (0: never)
};

constexpr long garbageBytesMax = 4096;

struct FaultState {
    long linesSent = 0;
    long hungUpAtLine = 0;
    long garbageCount = 0; // noise bytes made so far, for the next one's pattern
};

enum class LineFate { send, silent, hangUp };

// What happens when the next line is due. On send the line's number (from 1)
// is in *number and counted as sent.
LineFate nextLineFate(const FaultOptions& faults, FaultState* state, long* number);

bool spoilsChecksum(const FaultOptions& faults, long number);

// The bytes of line number that go out, of length.
size_t sentLength(const FaultOptions& faults, long number, size_t length);

// Fills out (garbageBytesMax bytes) with the noise before a line; never the
// sync byte. Returns the count.
size_t makeGarbage(const FaultOptions& faults, FaultState* state, char* out);

// One line of the log: the bytes sent without a final carriage return, then a
// line feed.
void logLine(FILE* log, const char* line, size_t length);
