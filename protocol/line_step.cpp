#include "protocol/line_step.h"

namespace {

// Both windows go through the same two steps.
void averageInto(AveragingWindow& window, const Sample& sample, int32_t capacity, bool acceleration,
                 MotionOutput& output) {
    const int32_t count = pushSample(window, sample, capacity);
    output = computeMotion(window.samples, count, acceleration, output);
}

} // namespace

LinePass stepLine(LineState& state, const LineStepSettings& settings, const char* line,
                  int length) {
    LinePass pass;
    pass.line = line;
    pass.length = length;
    pass.mouseOutput = &state.mouseOutput;
    pass.lanOutput = &state.lanOutput;
    pass.buttons = &state.buttons;
    pass.sample = &state.sample;
    Sample sample;
    ButtonState buttons;
    pass.accepted = parseDeviceLine(line, &sample, &buttons);
    if (!pass.accepted) return pass;
    state.buttons = buttons;
    state.sample = sample;
    averageInto(*state.mouseWindow, sample, settings.mouseAveraging, settings.acceleration,
                state.mouseOutput);
    if (settings.lanWindow)
        averageInto(*state.lanWindow, sample, settings.lanAveraging, settings.acceleration,
                    state.lanOutput);
    return pass;
}
