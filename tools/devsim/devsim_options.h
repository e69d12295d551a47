#pragma once
// The simulator's command line.

#include "tools/devsim/devsim_faults.h"
#include "tools/devsim/line_source.h"

struct DevsimOptions {
    const char* link = nullptr;
    int streamHz = 0; // 0: preset C, one line per poll byte
    const char* replay = nullptr;
    bool timed = false; // pace a capture's records by their times
    FixedValues fixed;
    long delayMs = 0;
    FaultOptions faults;
    long backAfterMs = 1000;
    const char* log = nullptr;
};

// -1 when the options are good, else the exit status (help, version, usage
// error), with its text printed.
int parseDevsimOptions(int argc, char** argv, DevsimOptions* o);
