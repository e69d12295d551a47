#pragma once
// Device lines as the simulated device writes them: "TOL", three
// accelerations (%8.3f), four quaternion components (%8.5f), five buttons,
// the two checksum digits and a carriage return; 76 bytes in all.

#include "device/device_line.h"

constexpr int simLineSize = deviceLineLength + 1; // with the terminating NUL

// Writes the line and its NUL into out (simLineSize bytes). False when a value
// does not fit its eight characters; out is then unusable.
bool formatSimLine(const Sample& sample, const ButtonState& buttons, char* out);

// The motion step steps after its start: a slow turn about x, then y, then
// z, with the gravity vector seen from the device as acceleration (in g). No
// button is pressed: a bridge may turn buttons into clicks and keys, which
// nobody should get without asking (--press asks).
void syntheticMotion(double step, Sample* sample, ButtonState* buttons);

// The motion takes this many steps a second, whatever the pace of the lines,
// and this many per full turn about one axis (6 s, 60 degrees a second).
constexpr long simStepsPerSecond = 100;
constexpr long simTurnLines = 600;

// Replaces the checksum digits (bytes 73, 74) with a wrong pair.
void spoilChecksum(char* line);
