#pragma once
// Where the simulator's lines come from: the synthetic motion (with fixed
// values where asked), or a replay file of plain lines or a capture.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "device/capture.h"
#include "device/device_line.h"
#include "tools/devsim/button_presses.h"

struct FixedValues {
    bool quat = false;
    double quatValue[4] = {};
    bool accel = false;
    double accelValue[3] = {};
    bool buttons = false;
    int buttonValue[5] = {};
    PressPlan presses; // over the buttons, fixed or not
};

// A plain replay line longer than this is refused (skipped, with a note).
constexpr size_t replayLineMax = 4096;
// Of a replay file at most this many lines and bytes are kept (the rest is
// left out, with a note).
constexpr long replayLinesMax = 1000000;
constexpr size_t replayBytesMax = size_t{64} << 20;

struct ReplayLine {
    size_t offset = 0; // into Replay::bytes
    size_t length = 0;
    int64_t microseconds = 0; // a capture's receive time, else 0
};

// The lines of a replay file, kept whole in memory (a tool, not the bridge).
struct Replay {
    bool capture = false; // a capture's records, sent as they are
    char* bytes = nullptr;
    size_t size = 0;
    ReplayLine* lines = nullptr;
    long count = 0;
};

// Reads a replay file: a capture when its first line is the capture header,
// else plain lines (blank lines and lines beginning with # skipped, a carriage
// return added to each). Says on notes, with line numbers, what was skipped or
// refused. False, with the reason on notes, when the file gives no lines.
bool loadReplay(FILE* f, const char* name, Replay* replay, FILE* notes);
void freeReplay(Replay* replay);

// Line number (from 1), due microseconds after the first, as the device
// sends it, into out (size bytes at least replayLineMax + 2); returns its
// length. Replay lines come round again after the last; synthetic ones take
// the motion and the presses of their time. spoil: a wrong checksum
// (synthetic lines only). False when a fixed value does not fit the line.
bool makeLine(const Replay& replay, const FixedValues& fixed, long number, int64_t microseconds,
              bool spoil, char* out, size_t size, size_t* length);

constexpr size_t lineBufferSize = replayLineMax + 2;
