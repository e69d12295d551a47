#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "output/desktop/pointer.h"
#include "output/hand/air_mouse.h"
#include "output/hand/gestures.h"
#include "output/hand/pointer_output.h"
#include "protocol/line_step.h"
#include "settings/settings.h"
#include "tests/support/recording_pointer.h"

namespace {

constexpr double radiansPerDegree = 3.14159265358979323846 / 180.0;

enum Axis { pitchUp, yawRight, rollRight };

// The device turned by `degrees` the hand's way about one axis.
void turned(Axis axis, double degrees, double q[4]) {
    // Up is about the first axis; right and a roll to the right are turns
    // the other way about the second and third.
    const double half = (axis == pitchUp ? degrees : -degrees) * radiansPerDegree / 2.0;
    q[0] = q[1] = q[2] = 0.0;
    q[axis] = std::sin(half);
    q[3] = std::cos(half);
}

// A stretch of a motion: from the angle it has reached, `degrees` more over
// `seconds`, one sample every 1/hz (or `samples` in all).
struct Leg {
    double seconds;
    double degrees;
    int samples = 0;
};

struct GestureCase {
    const char* what;
    GestureAction action;
    Axis axis;
    std::vector<Leg> legs; // a leg of 0 degrees holds still
    int32_t low, high;     // the notches or keys it sends in all, within
    bool releaseAtEnd;     // one more sample after the release: nothing
};

TEST(Gestures, RateDeadZoneCapWrapAndSteps) {
    const GestureCase cases[] = {
        {"within the dead zone", GestureAction::scroll, pitchUp, {{0.1, 2.5}, {1.0, 0}}, 0, 0, 0},
        {"13 degrees up: 10 notches a second",
         GestureAction::scroll,
         pitchUp,
         {{0.01, 13}, {1.0, 0}},
         9,
         10,
         0},
        {"13 degrees down", GestureAction::scroll, pitchUp, {{0.01, -13}, {1.0, 0}}, -10, -9, 0},
        {"60 degrees: the cap of 20",
         GestureAction::scroll,
         pitchUp,
         {{0.01, 60}, {1.0, 0}},
         19,
         20,
         0},
        {"yaw does not scroll", GestureAction::scroll, yawRight, {{0.01, 40}, {1.0, 0}}, 0, 0, 0},
        {"HScroll to the right",
         GestureAction::hScroll,
         yawRight,
         {{0.01, 13}, {1.0, 0}},
         9,
         10,
         0},
        {"Zoom like Scroll", GestureAction::zoom, pitchUp, {{0.01, -8}, {2.0, 0}}, -10, -9, 0},
        {"no scroll after the release",
         GestureAction::scroll,
         pitchUp,
         {{0.01, 30}, {0.5, 0}},
         9,
         10,
         1},
        {"a paused device sends no burst",
         GestureAction::scroll,
         pitchUp,
         {{0.01, 13}, {3.0, 0, 1}},
         1,
         1,
         0},
        {"Volume: a key per 10 degrees", GestureAction::volume, rollRight, {{0.5, 35}}, 3, 3, 0},
        {"Volume down", GestureAction::volume, rollRight, {{0.5, -21}}, -2, -2, 0},
        {"Volume: back less than a step is no key",
         GestureAction::volume,
         rollRight,
         {{0.5, 35}, {0.1, -12}},
         3,
         3,
         0},
        {"Volume: back a whole step is one",
         GestureAction::volume,
         rollRight,
         {{0.5, 35}, {0.1, -16}},
         2,
         2,
         0},
        {"Volume on past 180 degrees", GestureAction::volume, rollRight, {{1.0, 195}}, 19, 19, 0},
        {"Volume back past -180 degrees",
         GestureAction::volume,
         rollRight,
         {{1.0, -205}},
         -20,
         -20,
         0},
    };
    const GestureRules rules; // the defaults: 3 degrees, 1 and 20 notches, 10 degrees
    for (const GestureCase& c : cases) {
        SCOPED_TRACE(c.what);
        const double hz = 200.0;
        double q[4];
        turned(c.axis, 0.0, q);
        GestureTrack track;
        startGesture(track, c.action, q, 0.0);
        double t = 0.0, angle = 0.0;
        int32_t sent = 0;
        bool ctrlWhenWheel = true;
        for (const Leg& leg : c.legs) {
            // A leg of a moment is a jump; a long one is a slow turn or a rest.
            const int count = leg.samples > 0
                                  ? leg.samples
                                  : std::max(1, static_cast<int>(leg.seconds * hz + 0.5));
            const double gap = leg.seconds / count;
            for (int n = 0; n < count; ++n) {
                t += gap;
                angle += leg.degrees / count;
                turned(c.axis, angle, q);
                const GestureStep step = stepGesture(track, rules, q, t);
                sent += step.wheel + step.hWheel + step.volume;
                if (step.wheel != 0) ctrlWhenWheel = ctrlWhenWheel && step.withCtrl;
                EXPECT_EQ(step.hWheel != 0, step.hWheel != 0 && c.action == GestureAction::hScroll);
            }
        }
        if (c.action == GestureAction::zoom) {
            EXPECT_TRUE(ctrlWhenWheel);
        }
        if (c.releaseAtEnd) {
            stopGesture(track);
            const GestureStep after = stepGesture(track, rules, q, t + 0.5);
            EXPECT_EQ(after.wheel + after.hWheel + after.volume, 0);
        }
        EXPECT_GE(sent, c.low);
        EXPECT_LE(sent, c.high);
    }
}

struct FlickCase {
    const char* what;
    Axis axis;
    std::vector<Leg> legs;
    double bunch; // > 0: lines arrive in pairs this far apart
    std::vector<FlickDirection> expected;
};

TEST(Flicks, QuickShortTurnsThatEndAreFlicks) {
    using F = FlickDirection;
    const FlickCase cases[] = {
        {"300 degrees a second for 100 ms",
         yawRight,
         {{0.2, 0}, {0.1, 30}, {0.3, 0}},
         0,
         {F::right}},
        {"... to the left", yawRight, {{0.2, 0}, {0.1, -30}, {0.3, 0}}, 0, {F::left}},
        {"... down", pitchUp, {{0.2, 0}, {0.1, -30}, {0.3, 0}}, 0, {F::down}},
        {"... up, lines bunched in pairs",
         pitchUp,
         {{0.2, 0}, {0.1, 30}, {0.3, 0}},
         0.0005,
         {F::up}},
        {"a slow big turn", yawRight, {{1.0, 90}, {0.3, 0}}, 0, {}},
        {"a slow turn, lines bunched", yawRight, {{1.0, 150}, {0.3, 0}}, 0.0005, {}},
        {"fast but too long", yawRight, {{0.4, 120}, {0.3, 0}}, 0, {}},
        {"a roll is no flick", rollRight, {{0.1, 40}, {0.3, 0}}, 0, {}},
        {"a flick and the hand coming back",
         yawRight,
         {{0.1, 35}, {0.15, 0}, {0.1, -35}, {0.6, 0}},
         0,
         {F::right}},
        {"two flicks the same way",
         yawRight,
         {{0.1, 35}, {0.15, 0}, {0.1, 35}, {0.3, 0}},
         0,
         {F::right, F::right}},
    };
    const FlickRules rules; // 250 degrees a second, 150 ms
    for (const FlickCase& c : cases) {
        SCOPED_TRACE(c.what);
        const double hz = 200.0;
        FlickTrack track;
        double t = 0.0, angle = 0.0;
        std::vector<FlickDirection> got;
        for (const Leg& leg : c.legs) {
            const int count = static_cast<int>(leg.seconds * hz + 0.5);
            for (int n = 0; n < count; ++n) {
                t += 1.0 / hz;
                angle += leg.degrees / count;
                double q[4];
                turned(c.axis, angle, q);
                // Bunched: the odd lines arrive just after the even ones.
                const double at = c.bunch > 0 && n % 2 == 1 ? t - 1.0 / hz + c.bunch : t;
                const FlickStep step = stepFlick(track, rules, q, at);
                if (step.flick != F::none) got.push_back(step.flick);
            }
        }
        EXPECT_EQ(got, c.expected);
    }
}

TEST(Gestures, TurnBetweenReadsTheHandsAxes) {
    double from[4], to[4];
    turned(pitchUp, 20.0, from);
    turned(pitchUp, 50.0, to);
    EXPECT_NEAR(turnBetween(from, to).pitch, 30.0, 1e-9);
    turned(yawRight, 10.0, from);
    turned(yawRight, -25.0, to);
    EXPECT_NEAR(turnBetween(from, to).yaw, -35.0, 1e-9);
    turned(rollRight, 170.0, from);
    turned(rollRight, -170.0, to);
    EXPECT_NEAR(turnBetween(from, to).roll, 20.0, 1e-9);
    const float unit[4] = {0, 0, 0, 2};
    double q[4];
    EXPECT_TRUE(unitQuaternion(unit, q));
    EXPECT_EQ(q[3], 1.0);
    const float none[4] = {0, 0, 0, 0};
    EXPECT_FALSE(unitQuaternion(none, q));
}

} // namespace

namespace {

// What the air mouse's output sent for a run of lines at 100 a second: the
// device's buttons and its turn per line; counts of places, wheel notches
// and PageDown keys, and whether the cursor was placed after the first line.
struct OutputRun {
    int places = 0, placesAfterFirst = 0, notches = 0, keys = 0;
};

struct OutputLeg {
    int lines;
    Axis axis;
    double degreesPerLine;
    const char* buttons;
};

OutputRun runOutput(const std::vector<OutputLeg>& legs) {
    pointerOutput.prepare();
    pointerOutput.begin();
    OutputRun run;
    double angle[3] = {0, 0, 0};
    int n = 0;
    for (const OutputLeg& leg : legs)
        for (int i = 0; i < leg.lines; ++i, ++n) {
            angle[leg.axis] += leg.degreesPerLine;
            double q[4];
            turned(leg.axis, angle[leg.axis], q);
            Sample sample{{0, 0, 1, static_cast<float>(q[0]), static_cast<float>(q[1]),
                           static_cast<float>(q[2]), static_cast<float>(q[3])}};
            const MotionOutput mouse{
                {0, 0, 0}, {sample.value[3], sample.value[4], sample.value[5], sample.value[6]}};
            ButtonState b{};
            for (int k = 0; k < buttonCount; ++k)
                b.button[k] = leg.buttons[k] - '0';
            LinePass p;
            p.accepted = true;
            p.received = std::chrono::steady_clock::time_point(
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(n / 100.0)));
            p.mouseOutput = &mouse;
            p.buttons = &b;
            p.sample = &sample;
            clearPointerCalls();
            pointerOutput.pass(p);
            PointerCall calls[64];
            const int count = std::min(copyPointerCalls(calls, 64), 64);
            for (int c = 0; c < count; ++c) {
                if (calls[c].kind == PointerCall::place) {
                    ++run.places;
                    if (n > 0) ++run.placesAfterFirst;
                }
                if (calls[c].kind == PointerCall::event && (calls[c].flags & mouseEventWheel))
                    run.notches += calls[c].wheelData / 120;
                if (calls[c].kind == PointerCall::key && calls[c].y == 1 &&
                    calls[c].x == static_cast<int>(KeyId::pageDown))
                    ++run.keys;
            }
        }
    pointerOutput.finish();
    return run;
}

} // namespace

// The gestures and flicks in the air mouse's output: the cursor holds while a
// gesture button is held, the wheel stops at the release, and flickWhen
// chooses when a flick sends its key.
TEST(MotionCommands, OutputHoldsTheCursorAndFlicksWhenAsked) {
    setDefaults();
    screenWidth = 1920;
    screenHeight = 1080;
    settings.mouseAveraging = 1;
    setButtonLine(0, "Scroll");
    setFlickLine(1, "PageDown");
    const std::vector<OutputLeg> scroll = {{1, pitchUp, 0, "00000"},
                                           {1, pitchUp, 0, "10000"},
                                           {50, pitchUp, 13.0 / 50, "10000"},
                                           {50, pitchUp, 0, "10000"},
                                           {20, pitchUp, 0, "00000"}};
    const std::vector<OutputLeg> flick = {
        {20, yawRight, 0, "00000"}, {10, yawRight, 3, "00000"}, {20, yawRight, 0, "00000"}};
    const std::vector<OutputLeg> heldFlick = {
        {20, yawRight, 0, "00001"}, {10, yawRight, 3, "00001"}, {20, yawRight, 0, "00001"}};

    OutputRun run = runOutput(scroll);
    EXPECT_EQ(run.places, 1 + 20 - 2); // the first line; after the release and its bounce
    EXPECT_GE(run.notches, 5);
    EXPECT_LE(run.notches, 8);

    EXPECT_EQ(runOutput(flick).keys, 0); // airmouse-off, and the air mouse points
    settings.mouseEnabled = 0;
    EXPECT_EQ(runOutput(flick).keys, 1);
    settings.mouseEnabled = 1;
    settings.flickWhen = flickWhenAlways;
    run = runOutput(flick);
    EXPECT_EQ(run.keys, 1);
    settings.flickWhen = 4; // held:4
    EXPECT_EQ(runOutput(flick).keys, 0);
    setButtonLine(4, "press:Clutch");
    EXPECT_EQ(runOutput(heldFlick).keys, 1);
    setDefaults();
}
