#pragma once
// The air mouse: the cursor goes where the device points on a virtual screen
// plane, and the device's buttons become mouse buttons and the wheel.

#include <atomic>
#include <cstdint>

#include "device/device_line.h"
#include "motion/orientation.h"

// Primary screen size, read once at start-up before any worker runs.
extern std::atomic<int32_t> screenWidth;
extern std::atomic<int32_t> screenHeight;
// screenWidth * screenDistance, computed once per measurement worker, and
// the reach of each axis (mouseReachX, mouseReachY) taken with it: a factor
// on the pointing's horizontal and vertical gain, 1 by default.
extern std::atomic<float> screenDistancePixels;
extern std::atomic<float> screenReachX;
extern std::atomic<float> screenReachY;
void computeScreenDistancePixels();
// Forgets the button states last acted upon (all up), at each new cycle.
void resetPreviousButtons();
// Sends the up of each mouse button the device holds down and forgets the
// states, so that a button still held goes down again with the next sample;
// untilLetGo: it does not, until the device has let it go (the bridge let go
// of it behind the hand's back).
void releaseAirMouseButtons(bool untilLetGo);
// The screen position for an output; false when a coordinate is not a number
// (the cursor then stays where it is).
bool cursorPosition(const MotionOutput& mouseOutput, int32_t* x, int32_t* y);
void updateCursor(const MotionOutput& mouseOutput);
void injectButtons(const ButtonState& buttons);

// The two halves of cursorPosition, for the air mouse's feel (mouse_feel.h):
// where an output points (the forward axis turned by its quaternion), and the
// screen position of a direction, limited to the screen, before the integer
// conversion (false when it is not a number).
void pointingDirection(const MotionOutput& mouseOutput, float direction[3]);
bool projectDirection(const float direction[3], float* x, float* y);
// The same before the limits (the point may lie off the screen); false when
// it is not a number.
bool projectUnlimited(const float direction[3], float* x, float* y);
// The screen position's direction again (the inverse of the projection
// before the limits), as the reference rotation needs it.
void directionOfPosition(float x, float y, double direction[3]);
// A position limited to the screen as projectDirection limits it.
void limitToScreen(float* x, float* y);
// The state of button k (0..4) last acted upon; whether injectButtons would
// send a button event (not the wheel) for these states.
int32_t previousButton(int k);
bool buttonsChange(const ButtonState& buttons);
