#pragma once
// The dwell click: a click when the cursor has rested, that is stayed within
// a radius of where the rest began, for a time. The distance is measured from
// that first point, never step by step, so a slow creep does not click. Pure:
// the caller keeps the record and sends what a step asks for.
//
// The rules:
// - After a start (the record fresh, dwell turned on, a suspension such as
//   the clutch ended) and after every click, no rest begins for
//   dwellPauseSeconds.
// - A click happens once per rest: the next needs the cursor to have left the
//   radius of the last one first.
// - `drag` presses the left button at the first rest and releases it at the
//   next. Turned off while pressed, it releases at once; while suspended it
//   stays pressed (the clutch moves the hand back in the middle of a drag).
// - Time that runs backward (a replayed capture) stands still instead.

#include <cstdint>

#include "settings/settings.h"

constexpr double dwellPauseSeconds = 0.5;

struct DwellRules {
    DwellClick click = DwellClick::off;
    double seconds = 1.0; // the rest that clicks
    float radius = 8.0f;  // px
};

enum class DwellAction : uint8_t { none, click, press, release };

struct DwellState {
    bool started;  // a step has been taken since the reset
    bool resting;  // a rest began at (fromX, fromY) at fromAt
    bool spent;    // the last click's rest: no click until the cursor leaves it
    bool dragging; // drag: the left button is down
    float fromX, fromY;
    double fromAt;
    double pauseUntil;
    double now;
};

void resetDwell(DwellState& dwell);
// One position of the cursor at `seconds`; `suspended` while the cursor is
// held (the clutch, the air mouse switched off). What to send: a click of
// rules.click's kind, or for drag a press or a release of the left button.
DwellAction stepDwell(DwellState& dwell, const DwellRules& rules, float x, float y, double seconds,
                      bool suspended);
