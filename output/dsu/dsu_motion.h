#pragma once
// From the device's line to the pad the DSU client sees: the gyroscope's
// rates from successive quaternions over the lines' receive times, the
// accelerometer and the buttons, in the protocol's axes.
//
// The device's axes are read as the air mouse reads them: the third points
// where the device points, a turn about the first raises the tip, a turn
// about the second swings it to the left. The protocol's (a console pad held
// in front of you): pitch is positive tipping the far end up, yaw turning to
// the right, roll rolling to the right; its accelerometer's X points left,
// Y down and Z forward, which are the device's first, second and third axes.

#include <cstdint>

#include "device/device_line.h"
#include "output/dsu/dsu_protocol.h"

// What the rate needs of the line before.
struct DsuMotionTracker {
    bool have = false;
    double q[4] = {0, 0, 0, 1}; // x, y, z, w
    int64_t micros = 0;
};

// A gap longer than this (a device that paused) gives no rate. Shorter ones
// do, over the whole gap: a client's integral of rate times interval is then
// the device's turn even when the bridge was held up. A restart forgets the
// line before anyway.
constexpr int64_t dsuLongestGapMicros = 5000000;

// The pad for one accepted line: quaternion of the line's window (x, y, z,
// w), the line's acceleration (g, device axes), its buttons and its receive
// time in microseconds.
DsuPadState dsuPadStateOf(DsuMotionTracker& tracker, const float quaternion[4],
                          const float acceleration[3], const ButtonState& buttons, int64_t micros);

// The five buttons on the pad: 0 A, 1 B, 2 D-pad up, 3 D-pad down, 4 X (the
// air mouse's left, right, wheel forward, wheel backward, middle).
void dsuButtonsOf(const ButtonState& buttons, uint8_t* buttons1, uint8_t* buttons2);
