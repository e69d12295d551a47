#include "output/hand/press_kinds.h"

namespace {

void decide(PressEvent& event, ButtonTrack& t, PressKind kind) {
    event.decided = true;
    event.kind = kind;
    t.decided = true;
}

void classifyOne(ButtonTrack& t, bool pressed, double now, const PressRules& rules,
                 PressEvent& event) {
    const bool immediate = !rules.usesLong && !rules.usesDouble;
    if (t.blocked) {
        if (!pressed) t.blocked = false;
        return;
    }
    if (t.down) {
        if (pressed) {
            t.releasedRun = 0;
            if (rules.usesLong && !t.decided && now - t.downAt >= rules.longSeconds)
                decide(event, t, PressKind::longPress);
            return;
        }
        if (t.releasedRun++ == 0) t.releasedAt = now;
        if (t.releasedRun <= bounceSamples) return;
        t.down = false;
        t.upAt = t.releasedAt;
        if (immediate) {
            event.ends = true;
        } else if (!t.decided) {
            if (rules.usesDouble)
                t.waiting = true;
            else
                decide(event, t, PressKind::shortPress);
        }
        // A window that has already passed decides at once.
        if (t.waiting && now - t.upAt > rules.doubleSeconds) {
            t.waiting = false;
            decide(event, t, PressKind::shortPress);
        }
        return;
    }
    if (!pressed) {
        if (t.waiting && now - t.upAt > rules.doubleSeconds) {
            t.waiting = false;
            decide(event, t, PressKind::shortPress);
        }
        return;
    }
    const bool second = t.waiting && now - t.upAt <= rules.doubleSeconds;
    // A window that passed without a sample in it decides its press now.
    if (t.waiting && !second) decide(event, t, PressKind::shortPress);
    t.waiting = false;
    t.down = true;
    t.decided = false;
    t.releasedRun = 0;
    t.downAt = now;
    if (second && rules.usesDouble) {
        decide(event, t, PressKind::doublePress);
    } else if (immediate) {
        decide(event, t, PressKind::shortPress);
        event.begins = true;
    }
}

} // namespace

void resetPressKinds(PressKinds& kinds) {
    kinds = PressKinds{};
    kinds.fresh = true;
}

void classifyPresses(PressKinds& kinds, const ButtonState& buttons, double seconds,
                     const PressRules rules[buttonCount], PressEvent events[buttonCount]) {
    if (kinds.fresh || seconds > kinds.now) kinds.now = seconds;
    for (int k = 0; k < buttonCount; ++k) {
        events[k] = PressEvent{};
        const bool pressed = buttons.button[k] == 1;
        if (kinds.fresh && pressed) kinds.track[k].blocked = true;
        classifyOne(kinds.track[k], pressed, kinds.now, rules[k], events[k]);
    }
    kinds.fresh = false;
}
