#include "app/headless/standard_streams.h"

#include <cstdio>

void prepareStandardStreams() {
    // Windows hands out handles, not the lowest free number: a port or socket
    // never takes a stream's place, and a missing stream fails its writes.
}

bool writeStandardStream(StandardStream stream, const char* data, size_t size) {
    // Text mode, as before: every line ends in CR LF on the console and in files.
    FILE* file = stream == StandardStream::output ? stdout : stderr;
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fflush(file) == 0 && written;
}
