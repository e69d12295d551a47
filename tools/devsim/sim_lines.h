#pragma once
// Device lines as the simulated device writes them: "TOL", three
// accelerations (%8.3f), four quaternion components (%8.5f), five buttons,
// the two checksum digits and a carriage return; 76 bytes in all.

#include "device/device_line.h"

constexpr int simLineSize = deviceLineLength + 1; // with the terminating NUL

// Writes the line and its NUL into out (simLineSize bytes). False when a value
// does not fit its eight characters; out is then unusable.
bool formatSimLine(const Sample& sample, const ButtonState& buttons, char* out);

// The motion of line number index (from 0): a slow turn about x, then y,
// then z, with the gravity vector seen from the device as acceleration (in g),
// and each button pressed in turn.
void syntheticMotion(long index, Sample* sample, ButtonState* buttons);

// Lines per full turn about one axis, and per button in the button pattern.
constexpr long simTurnLines = 600;
constexpr long simButtonLines = 100;

// Replaces the checksum digits (bytes 73, 74) with a wrong pair.
void spoilChecksum(char* line);
