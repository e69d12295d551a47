#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "output/pointer/gestures.h"

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
