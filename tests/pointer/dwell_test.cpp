#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "output/hand/dwell.h"

namespace {

constexpr double period = 0.01; // 100 positions a second

// A stretch of the cursor's path: `seconds` long, from (x, y) at vx px a
// second, with the cursor held (the clutch) or not, and the time running on
// or back by `jump` at its start.
struct Stretch {
    double seconds;
    float x, y, vx;
    bool suspended = false;
    double jump = 0.0;
};

struct Case {
    const char* name;
    DwellClick click;
    std::vector<Stretch> path;
    // "click@1.50 press@... release@...": each action and when it happened.
    const char* expected;
};

std::string run(const Case& c) {
    DwellState dwell;
    resetDwell(dwell);
    const DwellRules rules{c.click, 1.0, 10.0f};
    std::string seen;
    // Times as whole steps from the start, so that they add up exactly.
    int n = 0;
    double jumped = 0.0;
    for (const Stretch& s : c.path) {
        jumped += s.jump;
        const int steps = static_cast<int>(std::lround(s.seconds / period));
        for (int i = 0; i < steps; ++i, ++n) {
            const double t = n * period + jumped;
            const float x = s.x + s.vx * static_cast<float>(i * period);
            const DwellAction a = stepDwell(dwell, rules, x, s.y, t, s.suspended);
            if (a == DwellAction::none) continue;
            constexpr const char* names[] = {"", "click", "press", "release"};
            char at[32];
            std::snprintf(at, sizeof at, "%s@%.2f", names[static_cast<int>(a)], t);
            seen += (seen.empty() ? "" : " ") + std::string(at);
        }
    }
    return seen;
}

} // namespace

// The rest counts from where it began: 0.5 s pause at the start, then 1 s
// within 10 px clicks, once.
TEST(Dwell, ClicksOnlyAfterARestWithinTheRadiusOfItsStart) {
    const Case cases[] = {
        {"still: one click after the pause and the rest",
         DwellClick::left,
         {{4, 100, 100, 0}},
         "click@1.50"},
        {"jitter within the radius still clicks",
         DwellClick::right,
         {{0.7, 100, 100, 0}, {0.7, 106, 100, 0}, {0.7, 98, 103, 0}},
         "click@1.50"},
        // 0.1 px a step: a step-by-step test would click; from the start the
        // creep leaves the radius every half second.
        {"a slow creep never clicks", DwellClick::left, {{20, 100, 100, 20}}, ""},
        {"a creep just fast enough to leave in time",
         DwellClick::left,
         {{20, 100, 100, 10.5f}},
         ""},
        {"a creep slower than radius per time does rest",
         DwellClick::left,
         {{3, 100, 100, 5}},
         "click@1.50"},
        {"left and back: a second click elsewhere",
         DwellClick::doubleClick,
         {{2, 100, 100, 0}, {2, 200, 100, 0}, {2, 100, 100, 0}},
         "click@1.50 click@3.00 click@5.00"},
        {"held (the clutch): nothing, then a pause after it",
         DwellClick::left,
         {{3, 100, 100, 0, true}, {3, 100, 100, 0}},
         "click@4.50"},
        {"off: nothing", DwellClick::off, {{5, 100, 100, 0}}, ""},
        {"drag: pressed at one rest, released at the next",
         DwellClick::drag,
         {{2, 100, 100, 0}, {3, 300, 200, 0}, {2, 300, 200, 0}},
         "press@1.50 release@3.00"},
        {"drag: held on while suspended",
         DwellClick::drag,
         {{2, 100, 100, 0}, {2, 500, 100, 0, true}, {2, 500, 100, 0}},
         "press@1.50 release@5.50"},
        {"time running back stands still",
         DwellClick::left,
         {{0.9, 100, 100, 0}, {0.9, 100, 100, 0, false, -0.5}, {1, 100, 100, 0}},
         "click@1.50"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run(c), c.expected) << c.name;
}

TEST(Dwell, ADragEndsWhenTurnedOffOrChanged) {
    DwellState dwell;
    resetDwell(dwell);
    const DwellRules drag{DwellClick::drag, 1.0, 10.0f};
    DwellAction last = DwellAction::none;
    double t = 0.0;
    for (; t < 2.0 && last == DwellAction::none; t += period)
        last = stepDwell(dwell, drag, 50, 50, t, false);
    ASSERT_EQ(last, DwellAction::press);
    for (DwellClick now : {DwellClick::off, DwellClick::left}) {
        DwellState copy = dwell;
        const DwellRules rules{now, 1.0, 10.0f};
        EXPECT_EQ(stepDwell(copy, rules, 50, 50, t, false), DwellAction::release);
        EXPECT_FALSE(copy.dragging);
        EXPECT_EQ(stepDwell(copy, rules, 50, 50, t + period, false), DwellAction::none);
    }
}
