#pragma once
// From an averaging window to a normalized quaternion and three angles.

#include <cstdint>

#include "device/device_line.h"

struct MotionOutput {
    float anglesOrAcceleration[3]; // angles in degrees, or the averaged acceleration (the reply's
                                   // "d")
    float quaternion[4];           // normalized averaged quaternion, scalar part last ("q")
};

struct RotationMatrix {
    float m[16]; // row by row, for row vectors
};

RotationMatrix quaternionToMatrix(float x, float y, float z, float w);

// The output that stands in before a window has produced one: the identity.
MotionOutput identityMotion();

// Averages slots[0..count-1] (count >= 1) and derives the output.
// An averaged quaternion of zero length (opposite samples cancelling) has no
// direction to normalize; then the quaternion of `previous` is used instead,
// so that no not-a-number value reaches the cursor or a client.
MotionOutput computeMotion(const Sample* slots, int32_t count, bool accelerationOutput,
                           const MotionOutput& previous);
