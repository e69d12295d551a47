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
// screenWidth * screenDistance, computed once per measurement worker.
extern std::atomic<float> screenDistancePixels;
// Button states last acted upon.
extern int32_t previousButtons[5];

void computeScreenDistancePixels();
void resetPreviousButtons();
void updateCursor(const MotionOutput& mouseOutput);
void injectButtons(const ButtonState& buttons);
