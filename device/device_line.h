#pragma once
// The device's line format: "TOL", seven numbers, five buttons, a checksum.

#include <cstdint>

constexpr int deviceLineLength = 76; // from the sync byte to the end-of-line byte
constexpr int deviceLineBufferSize = 256;
constexpr char syncByte = 'T';
constexpr char pollByte = 'D';

struct Sample {
    float value[7]; // 0..2 acceleration, 3..6 quaternion (scalar part last)
};

struct ButtonState {
    int32_t button[5]; // character minus '0'
};

// Checks one line and, only when it is accepted, writes sample and buttons.
bool parseDeviceLine(const char* line, Sample* sample, ButtonState* buttons);

// The checksum over bytes 0..72 (each a signed 8-bit value), modulo 100 with
// truncating division; the line ends early at CR, LF or NUL.
int32_t deviceLineChecksum(const char* line);
