#include "output/hand/mouse_feel.h"

#include <cmath>

#include "output/desktop/pointer.h"
#include "output/hand/air_mouse.h"
#include "output/hand/held_input.h"
#include "output/hand/one_euro.h"
#include "protocol/output_note.h"

namespace {

constexpr int leftButton = 0, rightButton = 1, middleButton = 4;

// What a recenter gesture is doing with its buttons.
enum class Gesture : uint8_t {
    idle,    // not pressed, or pressed and passed on as a click
    pending, // pressed; its down event waits until the gesture is decided
    taken,   // the gesture used the press: nothing is sent until release
};

// The feel's state, on the worker's thread only.
struct FeelState {
    OneEuroFilter filter;
    // Screen direction = reference x device direction, once a recenter or a
    // clutch has set it; row-major.
    bool referenced;
    double reference[9];
    // Where the cursor was last put (before the integer conversion).
    bool shown;
    float shownX, shownY;
    // Where the device pointed then, before the limits: past an edge the
    // cursor stays at the edge while the hand still moves.
    float aimX, aimY;
    bool clutchHeld;
    double holdUntil; // the cursor holds still before this time
    bool holding;
    int32_t previousRaw[5];
    bool clutchToggled; // a button's Clutch action holds the cursor
    bool pointingOff;   // a button's AirMouse action stopped the cursor
    bool motionHeld;    // a gesture or a flick holds the cursor
    // Where the cursor was put over the last samples, so that a flick, seen
    // only once it is fast, can put the cursor back to where it began.
    struct Placed {
        double seconds;
        float x, y;
    } placed[16];
    int placedNext;
    Gesture gesture[5];
    double pressedAt[5];
    // Precision mode: held by a button, or toggled; once anchored, the
    // cursor is anchor + (where the plain mapping points - raw) / precision.
    bool precisionHeld;
    bool precisionToggled;
    bool precisionAnchored;
    float anchorX, anchorY, rawX, rawY;
    DwellState dwell;
    bool dwellToggled; // a button's Dwell action turned it off or on
    // Relative mode: the aimed point times the gain, in whole pixels, that
    // the moves sent so far have reached; the fraction below it is carried.
    bool relativeBased;
    double reachedX, reachedY;
    float draggedX, draggedY; // hybrid: the last line's overflow past the edges
};

FeelState state{};

// A drag's press and release are always the left button's.
void sendDwell(DwellAction action, DwellClick click) {
    const bool right = click == DwellClick::right && action == DwellAction::click;
    const uint32_t down = mouseEventAbsolute | (right ? mouseEventRightDown : mouseEventLeftDown);
    const uint32_t up = mouseEventAbsolute | (right ? mouseEventRightUp : mouseEventLeftUp);
    const int clicks = click == DwellClick::doubleClick ? 2 : 1;
    if (action == DwellAction::press) sendHeldMouseEvent(down, 0);
    if (action == DwellAction::release) sendHeldMouseEvent(up, 0);
    if (action != DwellAction::click) return;
    for (int i = 0; i < clicks; ++i) {
        sendHeldMouseEvent(down, 0);
        sendHeldMouseEvent(up, 0);
    }
}

void releaseDwell() {
    if (!state.dwell.dragging) return;
    state.dwell.dragging = false;
    sendDwell(DwellAction::release, DwellClick::drag);
}

void resetGestures() {
    releaseDwell();
    resetDwell(state.dwell);
    state.precisionHeld = state.precisionToggled = state.precisionAnchored = false;
    resetOneEuro(state.filter);
    state.clutchHeld = false;
    state.clutchToggled = false;
    state.motionHeld = false;
    state.holding = false;
    for (int k = 0; k < 5; ++k) {
        state.previousRaw[k] = 0;
        state.gesture[k] = Gesture::idle;
        state.pressedAt[k] = 0.0;
    }
}

int clutchButton(MouseClutch clutch) {
    switch (clutch) {
    case MouseClutch::left:
        return leftButton;
    case MouseClutch::right:
        return rightButton;
    case MouseClutch::middle:
        return middleButton;
    default:
        return -1;
    }
}

// The rotation that turns v onto the forward axis (0, 0, 1): first about the
// vertical axis, then about the horizontal one, so that a level direction
// stays level. v need not have unit length.
void levelRotation(const double v[3], double a[9]) {
    const double yaw = std::atan2(v[0], v[2]);
    const double pitch = std::atan2(v[1], std::hypot(v[0], v[2]));
    const double cy = std::cos(yaw), sy = std::sin(yaw);
    const double cp = std::cos(pitch), sp = std::sin(pitch);
    // About x by +pitch, after about y by -yaw.
    const double m[9] = {cy, 0.0, -sy, -sp * sy, cp, -sp * cy, cp * sy, sp, cp * cy};
    for (int i = 0; i < 9; ++i)
        a[i] = m[i];
}

// reference = A(target)^T A(from): from is turned onto target.
void setReference(const double from[3], const double target[3]) {
    double a[9], b[9];
    levelRotation(from, a);
    levelRotation(target, b);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            state.reference[r * 3 + c] = b[0 * 3 + r] * a[0 * 3 + c] + b[1 * 3 + r] * a[1 * 3 + c] +
                                         b[2 * 3 + r] * a[2 * 3 + c];
    state.referenced = true;
}

const char* dwellClickName(DwellClick click) {
    constexpr const char* names[] = {"off", "left", "right", "double", "drag"};
    return names[static_cast<int>(click)];
}

// The dwell click in effect: the setting's, or as a button toggled it.
DwellClick dwellInEffect(const MouseFeel& feel) {
    if (!state.dwellToggled) return feel.dwellClick;
    return feel.dwellClick == DwellClick::off ? DwellClick::left : DwellClick::off;
}

// Relative mode: moves the cursor by the whole pixels the aimed point (times
// the gain) crossed since the last line. Counting whole pixels of the aimed
// point, not rounding each move, makes the moves add up to the absolute path
// with no drift. A point out of all reason (pointing along the screen's
// plane) moves nothing and starts afresh.
void moveRelative(float x, float y, float gain) {
    const double gx = std::floor(static_cast<double>(x) * gain);
    const double gy = std::floor(static_cast<double>(y) * gain);
    constexpr double far = 1e9;
    if (!(std::fabs(gx) < far && std::fabs(gy) < far)) {
        state.relativeBased = false;
        return;
    }
    if (state.relativeBased && (gx != state.reachedX || gy != state.reachedY)) {
        const double dx = gx - state.reachedX, dy = gy - state.reachedY;
        // Two points below far apart: the move fits an int32_t.
        moveCursorBy(static_cast<int32_t>(dx), static_cast<int32_t>(dy));
    }
    state.reachedX = gx;
    state.reachedY = gy;
    state.relativeBased = true;
}

bool finite3(const float v[3]) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// The states handed to injectButtons for this sample, and a second set when a
// press held back by a gesture turns out to be a click (down, then up).
struct ButtonPlan {
    ButtonState now;
    ButtonState then;
    bool click = false;
    bool clickOf[5] = {false, false, false, false, false};
    bool recenter = false;
    bool clutchReleased = false;
};

// A press held back for a gesture: nothing is sent while it waits.
void holdBack(ButtonPlan& plan, int k) {
    plan.now.button[k] = previousButton(k);
}

// A held-back press that ends before the gesture: a click, down then up.
void clickNow(ButtonPlan& plan, int k, int32_t raw) {
    plan.now.button[k] = 1;
    plan.then.button[k] = raw;
    plan.clickOf[k] = plan.click = true;
}

void middleHold(ButtonPlan& plan, const ButtonState& raw, double seconds) {
    const int k = middleButton;
    Gesture& g = state.gesture[k];
    if (raw.button[k] == 1) {
        if (g == Gesture::idle) {
            g = Gesture::pending;
            state.pressedAt[k] = seconds;
        }
        if (g == Gesture::pending && seconds - state.pressedAt[k] >= recenterHoldSeconds) {
            g = Gesture::taken;
            plan.recenter = true;
        }
        holdBack(plan, k);
        return;
    }
    if (g == Gesture::pending) clickNow(plan, k, raw.button[k]);
    if (g == Gesture::taken) holdBack(plan, k);
    g = Gesture::idle;
}

// Left and right pressed within chordSeconds of each other recenter. A press
// waits that long for its partner; a press released sooner is a click.
void leftRightChord(ButtonPlan& plan, const ButtonState& raw, double seconds) {
    // Releases first, so that a partner let go in this very sample makes no chord.
    for (int k = leftButton; k <= rightButton; ++k) {
        if (raw.button[k] == 1) continue;
        Gesture& g = state.gesture[k];
        if (g == Gesture::pending) clickNow(plan, k, raw.button[k]);
        if (g == Gesture::taken) holdBack(plan, k);
        g = Gesture::idle;
    }
    for (int k = leftButton; k <= rightButton; ++k) {
        if (raw.button[k] != 1) continue;
        Gesture& g = state.gesture[k];
        Gesture& other = state.gesture[1 - k];
        if (g == Gesture::idle && state.previousRaw[k] != 1) {
            const bool partnerSent = raw.button[1 - k] == 1 && state.previousRaw[1 - k] == 1;
            if (other == Gesture::pending) {
                g = other = Gesture::taken;
                plan.recenter = true;
                // The partner's press was held back; it is not sent either.
                holdBack(plan, 1 - k);
            } else if (!partnerSent) {
                g = Gesture::pending;
                state.pressedAt[k] = seconds;
            }
            // With the partner down since an earlier sample (and sent), this
            // is a plain press.
        }
        if (g == Gesture::pending && seconds - state.pressedAt[k] >= chordSeconds)
            g = Gesture::idle;
        if (g != Gesture::idle) holdBack(plan, k);
    }
}

ButtonPlan planButtons(const ButtonState& raw, double seconds, const MouseFeel& feel) {
    ButtonPlan plan{raw, raw};
    const int clutch = clutchButton(feel.clutch);
    if (clutch >= 0) {
        // The clutch button never clicks.
        holdBack(plan, clutch);
        const bool held = raw.button[clutch] == 1;
        plan.clutchReleased = state.clutchHeld && !held;
        state.clutchHeld = held;
    }
    // A gesture needs its buttons to itself: none that the clutch takes.
    if (feel.recenter == MouseRecenter::middleHold && clutch != middleButton)
        middleHold(plan, raw, seconds);
    if (feel.recenter == MouseRecenter::leftRight && clutch != leftButton && clutch != rightButton)
        leftRightChord(plan, raw, seconds);
    // The second set repeats the first but for the clicks' releases; the wheel
    // already turned with the first.
    for (int k = 0; k < 5; ++k)
        if (!plan.clickOf[k]) plan.then.button[k] = plan.now.button[k];
    plan.then.button[2] = plan.then.button[3] = 0;
    for (int k = 0; k < 5; ++k)
        state.previousRaw[k] = raw.button[k];
    return plan;
}

} // namespace

MouseFeel mouseFeelFromSettings() {
    MouseFeel feel;
    feel.smoothing = settings.mouseSmoothing.load();
    feel.minCutoff = settings.mouseMinCutoff.load();
    feel.beta = settings.mouseBeta.load();
    feel.clickHoldMs = settings.mouseClickHold.load();
    feel.recenter = settings.mouseRecenter.load();
    feel.clutch = settings.mouseClutch.load();
    feel.precision = settings.mousePrecision.load();
    feel.dwellClick = settings.dwellClick.load();
    feel.dwellTimeMs = settings.dwellTime.load();
    feel.dwellRadius = settings.dwellRadius.load();
    feel.mode = settings.pointerMode.load();
    feel.relativeGain = settings.relativeGain.load();
    return feel;
}

bool mouseFeelOff(const MouseFeel& feel) {
    return feel.smoothing == MouseSmoothing::average && feel.clickHoldMs <= 0 &&
           feel.recenter == MouseRecenter::none && feel.clutch == MouseClutch::none &&
           feel.dwellClick == DwellClick::off && feel.mode == PointerMode::absolute;
}

int32_t mouseWindowLength(const MouseFeel& feel, int32_t mouseAveraging) {
    return feel.smoothing == MouseSmoothing::adaptive ? 1 : mouseAveraging;
}

void resetMouseFeel() {
    resetGestures();
}

namespace {

// The cursor was put at (x, y): shown, and kept among the last places.
void remember(double seconds, float x, float y) {
    state.shown = true;
    state.shownX = x;
    state.shownY = y;
    state.placed[state.placedNext] = {seconds, x, y};
    state.placedNext = (state.placedNext + 1) % 16;
}

// The cursor back where it was at `since` (the latest place at or before it),
// when it has moved since.
void putBack(double since) {
    const FeelState::Placed* back = nullptr;
    for (const FeelState::Placed& p : state.placed)
        if (p.seconds > 0.0 && p.seconds <= since && (back == nullptr || p.seconds > back->seconds))
            back = &p;
    if (back == nullptr || !state.shown || (back->x == state.shownX && back->y == state.shownY))
        return;
    placeCursor(static_cast<int32_t>(back->x), static_cast<int32_t>(back->y));
    state.shownX = back->x;
    state.shownY = back->y;
}

} // namespace

bool airMousePointing() {
    return !state.pointingOff;
}

void resetMouseReference() {
    resetGestures();
    for (FeelState::Placed& p : state.placed)
        p = {};
    state.placedNext = 0;
    state.referenced = false;
    state.shown = false;
    state.pointingOff = false;
    state.dwellToggled = false;
    state.relativeBased = false;
}

bool takeCentreDrag(float* x, float* y) {
    *x = state.draggedX;
    *y = state.draggedY;
    return *x != 0.0f || *y != 0.0f;
}

bool feltCursor(float* x, float* y) {
    if (!state.shown) return false;
    *x = state.shownX;
    *y = state.shownY;
    return true;
}

void releaseMouseFeel() {
    releaseDwell();
}

void driveAirMouse(const MotionOutput& mouseOutput, const ButtonState& buttons, double seconds,
                   const MouseFeel& feel) {
    driveAirMouseWith(mouseOutput, buttons, seconds, feel, BridgeRequests{});
}

void driveAirMouseWith(const MotionOutput& mouseOutput, const ButtonState& buttons, double seconds,
                       const MouseFeel& feel, const BridgeRequests& requests) {
    const bool asked = requests.recenter || requests.clutchToggle || requests.airMouseToggle ||
                       requests.precisionPress || requests.precisionRelease ||
                       requests.precisionToggle || requests.dwellToggle || requests.holdStill;
    // A reference that a button's Recenter or precision mode left behind
    // keeps counting.
    if (mouseFeelOff(feel) && !asked && !state.clutchToggled && !state.pointingOff &&
        !state.referenced && !state.dwellToggled && !state.dwell.dragging && !state.precisionHeld &&
        !state.precisionToggled && !state.motionHeld) {
        updateCursor(mouseOutput);
        injectButtons(buttons);
        // Where the cursor went, for a hold that begins with the next
        // sample: it stays there and moves on from there.
        int32_t x = 0, y = 0;
        if (cursorPosition(mouseOutput, &x, &y))
            remember(seconds, static_cast<float>(x), static_cast<float>(y));
        return;
    }
    ButtonPlan plan = planButtons(buttons, seconds, feel);
    state.draggedX = state.draggedY = 0.0f;
    plan.recenter = plan.recenter || requests.recenter;
    if (requests.clutchToggle) {
        plan.clutchReleased = plan.clutchReleased || state.clutchToggled;
        state.clutchToggled = !state.clutchToggled;
    }
    if (requests.airMouseToggle) state.pointingOff = !state.pointingOff;
    // A gesture's or a flick's hold ends as the clutch's does, unless it
    // gives the cursor back to where the device points.
    if (state.motionHeld && !requests.holdStill && !requests.holdToAim) plan.clutchReleased = true;
    const bool holdBegins = requests.holdStill && !state.motionHeld;
    state.motionHeld = requests.holdStill;
    if (requests.precisionPress) state.precisionHeld = true;
    if (requests.precisionRelease) state.precisionHeld = false;
    if (requests.precisionToggle) state.precisionToggled = !state.precisionToggled;
    if (requests.dwellToggle) {
        state.dwellToggled = !state.dwellToggled;
        const DwellClick now = dwellInEffect(feel);
        if (now == DwellClick::off)
            sayNote("pointer", NoteLevel::info, "air mouse: dwell click off");
        else
            sayNote("pointer", NoteLevel::info, "air mouse: dwell click on (%s)",
                    dwellClickName(now));
    }

    float direction[3];
    pointingDirection(mouseOutput, direction);
    if (feel.smoothing == MouseSmoothing::adaptive) {
        const OneEuroParameters p{feel.minCutoff, feel.beta, feel.derivativeCutoff};
        float filtered[3];
        // A direction that is not finite leaves the filter alone; the
        // projection below then leaves the cursor where it is.
        if (filterOneEuro(state.filter, direction, seconds, p, filtered))
            for (int i = 0; i < 3; ++i)
                direction[i] = filtered[i];
    }

    const bool usable = finite3(direction);
    const double device[3] = {direction[0], direction[1], direction[2]};
    const bool precise = state.precisionHeld || state.precisionToggled;
    bool moved = false; // the reference changed under precision mode's anchor
    if (plan.recenter && usable) {
        const double forward[3] = {0.0, 0.0, 1.0};
        setReference(device, forward);
        moved = true;
    } else if ((plan.clutchReleased || (!precise && state.precisionAnchored)) && usable &&
               state.shown) {
        // Turn the device's direction now onto the one that put the cursor
        // where it stayed, so that it moves on from there: after the clutch,
        // and after precision mode.
        double stayed[3];
        directionOfPosition(state.shownX, state.shownY, stayed);
        setReference(device, stayed);
        moved = true;
    }
    if (!precise) state.precisionAnchored = false;
    if (state.referenced && usable) {
        const double* r = state.reference;
        for (int i = 0; i < 3; ++i)
            direction[i] = static_cast<float>(r[i * 3] * device[0] + r[i * 3 + 1] * device[1] +
                                              r[i * 3 + 2] * device[2]);
    }

    const bool sends = buttonsChange(plan.now) || plan.click;
    if (sends && feel.clickHoldMs > 0) {
        state.holding = true;
        state.holdUntil = seconds + feel.clickHoldMs / 1000.0;
    } else if (state.holding && !(seconds < state.holdUntil)) {
        state.holding = false;
    }
    const bool suspended =
        state.clutchHeld || state.clutchToggled || state.pointingOff || state.motionHeld;
    const bool still = ((suspended || state.holding) && !plan.recenter) || state.pointingOff;
    float sx, sy;
    bool placed = projectUnlimited(direction, &sx, &sy);
    // Precision mode measures from a finite point only: an anchor at
    // infinity (pointing along the screen plane) would hold the cursor at an
    // edge until the mode ends.
    if (placed && precise && !(std::isfinite(sx) && std::isfinite(sy))) placed = false;
    if (placed && precise) {
        if (!state.precisionAnchored || moved) {
            // From where the cursor is (or, after a recenter, where it goes).
            float ax = sx, ay = sy;
            if (feel.mode != PointerMode::relative) limitToScreen(&ax, &ay);
            if (state.shown && !moved) {
                ax = state.shownX;
                ay = state.shownY;
            }
            state.anchorX = ax;
            state.anchorY = ay;
            state.rawX = sx;
            state.rawY = sy;
            state.precisionAnchored = true;
        }
        const float divisor = feel.precision >= 1.0f ? feel.precision : 1.0f;
        sx = state.anchorX + (sx - state.rawX) / divisor;
        sy = state.anchorY + (sy - state.rawY) / divisor;
        placed = !std::isnan(sx) && !std::isnan(sy);
    }
    const float aimX = sx, aimY = sy;
    if (holdBegins && feel.mode != PointerMode::relative) putBack(requests.holdSince);
    if (feel.mode == PointerMode::relative) {
        // No screen limits the aimed point: the system keeps the cursor on
        // its screens. A recenter turns the aim, not the cursor; a cursor
        // held still owes nothing when it moves on.
        if (plan.recenter || still) state.relativeBased = false;
        if (!still && placed && std::isfinite(sx) && std::isfinite(sy)) {
            moveRelative(sx, sy, feel.relativeGain);
            state.aimX = state.shownX = sx;
            state.aimY = state.shownY = sy;
            state.shown = true;
        }
    } else {
        if (placed) limitToScreen(&sx, &sy);
        if (!still && placed) {
            placeCursor(static_cast<int32_t>(sx), static_cast<int32_t>(sy));
            remember(seconds, sx, sy);
            state.aimX = aimX;
            state.aimY = aimY;
            state.shown = true;
            state.shownX = sx;
            state.shownY = sy;
        }
        // Hybrid: past an edge the reference turns by the overflow, as the
        // clutch's does, so that the aim stays at the edge and turning back
        // leaves it at once.
        if (feel.mode == PointerMode::hybrid && !still && placed && usable && std::isfinite(aimX) &&
            std::isfinite(aimY) && (aimX != sx || aimY != sy)) {
            state.draggedX = aimX - sx;
            state.draggedY = aimY - sy;
            if (precise) {
                state.anchorX += sx - aimX;
                state.anchorY += sy - aimY;
            } else {
                double target[3];
                directionOfPosition(sx, sy, target);
                setReference(device, target);
            }
        }
    }
    injectButtons(plan.now);
    if (plan.click) injectButtons(plan.then);

    const DwellClick dwell = dwellInEffect(feel);
    if (state.shown || state.dwell.dragging) {
        const DwellRules rules{dwell, feel.dwellTimeMs / 1000.0,
                               static_cast<float>(feel.dwellRadius)};
        // The rest is the hand's, not the cursor's: pointing past an edge
        // and moving is no rest.
        sendDwell(stepDwell(state.dwell, rules, state.aimX, state.aimY, seconds, suspended), dwell);
    }
}
