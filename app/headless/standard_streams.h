#pragma once
// The headless bridge's standard streams, below the log mirror:
// standard_streams_posix.cpp, standard_streams_win32.cpp.

#include <cstddef>

enum class StandardStream { output, errors };

// Called first, before anything is opened: a closed descriptor 0, 1 or 2 is
// opened onto the null device, so that no port, pipe or socket opened later
// takes its number and receives what is meant for a stream; a stream whose
// reader went away makes a write fail instead of ending the process.
void prepareStandardStreams();

// Writes all of data, waiting as long as the stream makes it wait; false when
// the stream cannot take it (closed, reader gone).
bool writeStandardStream(StandardStream stream, const char* data, size_t size);
