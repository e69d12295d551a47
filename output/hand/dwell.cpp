#include "output/hand/dwell.h"

namespace {

bool within(const DwellState& d, float x, float y, float radius) {
    const float dx = x - d.fromX, dy = y - d.fromY;
    return dx * dx + dy * dy <= radius * radius;
}

} // namespace

void resetDwell(DwellState& dwell) {
    dwell = DwellState{};
}

DwellAction stepDwell(DwellState& dwell, const DwellRules& rules, float x, float y, double seconds,
                      bool suspended) {
    if (!dwell.started || seconds > dwell.now) dwell.now = seconds;
    const double now = dwell.now;
    const bool off = rules.click == DwellClick::off;
    if (dwell.dragging && rules.click != DwellClick::drag) {
        // Off, or another kind of click now: the drag ends first.
        dwell.dragging = false;
        dwell.started = false;
        return DwellAction::release;
    }
    if (off || suspended || !dwell.started) {
        // Each sample of a pause moves its end on: it counts from the last one.
        dwell.started = !off && !suspended;
        dwell.resting = dwell.spent = false;
        dwell.pauseUntil = now + dwellPauseSeconds;
        return DwellAction::none;
    }
    if (now < dwell.pauseUntil) return DwellAction::none;
    if (dwell.spent) {
        if (within(dwell, x, y, rules.radius)) return DwellAction::none;
        dwell.spent = false;
        dwell.resting = false;
    }
    if (!dwell.resting || !within(dwell, x, y, rules.radius)) {
        dwell.resting = true;
        dwell.fromX = x;
        dwell.fromY = y;
        dwell.fromAt = now;
        return DwellAction::none;
    }
    if (now - dwell.fromAt < rules.seconds) return DwellAction::none;
    // The rest clicked: it stays spent until the cursor leaves it.
    dwell.spent = true;
    dwell.pauseUntil = now + dwellPauseSeconds;
    if (rules.click != DwellClick::drag) return DwellAction::click;
    dwell.dragging = !dwell.dragging;
    return dwell.dragging ? DwellAction::press : DwellAction::release;
}
