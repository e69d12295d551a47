#include "output/pointer/pointer_output.h"

#include <chrono>

#include "output/pointer/air_mouse.h"
#include "output/pointer/mouse_feel.h"
#include "settings/settings.h"

namespace {

bool mouseOn() {
    return settings.mouseEnabled.load() != 0;
}

// A new worker (the Run command) forgets a recenter's or a clutch's
// reference; a restart keeps it.
void prepareMouse() {
    computeScreenDistancePixels();
    resetMouseReference();
}

// Each cycle, the buttons (and the feel's smoothing and gestures) start afresh.
void beginMouse() {
    resetPreviousButtons();
    resetMouseFeel();
}

OutputOutcome driveMouse(const LinePass& pass) {
    if (!pass.accepted || !mouseOn()) return {};
    const double seconds = std::chrono::duration<double>(pass.received.time_since_epoch()).count();
    driveAirMouse(*pass.mouseOutput, *pass.buttons, seconds, mouseFeelFromSettings());
    return {};
}

} // namespace

const LineOutput pointerOutput = {
    .prepare = prepareMouse,
    .readsUnasked = mouseOn,
    .begin = beginMouse,
    .pass = driveMouse,
};
