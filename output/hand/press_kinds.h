#pragma once
// The press kinds of the device's buttons: from each sample's button states
// and its time, a short press, a long one (held past a threshold) or a double
// one (a second press soon after a release). Pure: the caller keeps the
// record, so a test makes a fresh one.
//
// The rules, per button:
// - A release of at most bounceSamples samples between two pressed ones is
//   bounce: the press goes on. A release counts from its first sample.
// - With neither a long nor a double action, the short press is decided when
//   the button goes down (`begins`), and `ends` says when it comes up, so a
//   mouse button can be held. Holding it decides nothing more: no repeat.
// - With a long action, holding past longSeconds decides `long` at once; the
//   release then decides nothing.
// - With a double action, a short press waits doubleSeconds after its
//   release: a second press within it decides `double` (at its going down,
//   and its release decides nothing); otherwise the window decides `press`.
//   Without one, the release decides `press`.
// - A button held when the record is reset (a new cycle) counts only after it
//   has been released.
// - Time that runs backward (a replayed capture) stands still instead.

#include <cstdint>

#include "device/device_line.h"
#include "settings/button_actions.h"

constexpr int bounceSamples = 2;

struct PressRules {
    double longSeconds = 0.5;
    double doubleSeconds = 0.3;
    bool usesLong = false;
    bool usesDouble = false;
};

// What one sample decided for one button.
struct PressEvent {
    bool decided = false;
    PressKind kind = PressKind::shortPress;
    bool begins = false; // an immediate short press went down (decided with it)
    bool ends = false;   // ... and came up
};

struct ButtonTrack {
    bool down;       // a press is going on
    bool blocked;    // held since before a reset: ignored until released
    bool decided;    // this press has had its kind
    bool waiting;    // a short press waits for a second one
    int releasedRun; // samples released while down
    double downAt, releasedAt, upAt;
};

struct PressKinds {
    ButtonTrack track[buttonCount];
    bool fresh; // the next sample is the first after a reset
    double now;
};

void resetPressKinds(PressKinds& kinds);
void classifyPresses(PressKinds& kinds, const ButtonState& buttons, double seconds,
                     const PressRules rules[buttonCount], PressEvent events[buttonCount]);
