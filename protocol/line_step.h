#pragma once
// The per-line step: what becomes of one device line once the line search
// has read it. The line is checked and parsed; an accepted sample goes into
// the averaging windows and both motions are computed from them. The worker,
// tolvane-decode, the benchmark and the fuzzers all take this one path.

#include <chrono>
#include <cstdint>

#include "device/device_line.h"
#include "motion/averaging.h"
#include "motion/orientation.h"

// The settings the step reads, taken by the caller at the moment of use.
struct LineStepSettings {
    int32_t mouseAveraging = 32;
    int32_t lanAveraging = 1;
    bool acceleration = false;
    bool lanWindow = true; // whether the LAN window takes the sample and its motion is computed
};

// What the step carries from line to line: the windows and the last outputs,
// which stand in when an averaged quaternion has no length.
struct LineState {
    AveragingWindow* mouseWindow;
    AveragingWindow* lanWindow;
    MotionOutput mouseOutput = identityMotion();
    MotionOutput lanOutput = identityMotion();
    ButtonState buttons{}; // of the last accepted line
    Sample sample{};       // ... and its values as the device sent them
};

// What one line became: everything an output is handed on a pass.
struct LinePass {
    const char* line = nullptr; // as the line search returned it, NUL after it
    int length = 0;             // bytes in line
    bool accepted = false;      // checked and parsed; the rest is only meant for accepted lines
    bool requested = false;     // a LAN client asked for this line (the client-driven pass)
    std::chrono::steady_clock::time_point received{};
    const MotionOutput* mouseOutput = nullptr;
    const MotionOutput* lanOutput = nullptr;
    const ButtonState* buttons = nullptr;
    // The line's own values, unaveraged: the hand's gestures and flicks read
    // the turn from one line to the next.
    const Sample* sample = nullptr;
};

// Checks and parses line; when accepted, pushes the sample into the mouse
// window (and the LAN window when asked) and computes their motions. Returns
// the pass for the outputs, pointing into state.
LinePass stepLine(LineState& state, const LineStepSettings& settings, const char* line, int length);
