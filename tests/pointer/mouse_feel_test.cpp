#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "output/hand/air_mouse.h"
#include "output/hand/mouse_feel.h"
#include "output/hand/one_euro.h"
#include "output/desktop/pointer.h"
#include "settings/settings.h"
#include "tests/support/recording_pointer.h"

namespace {

constexpr double period = 1.0 / 150.0;
const ButtonState released{{0, 0, 0, 0, 0}};

// A rotation of `yaw` degrees about the second axis, then `pitch` about the first.
MotionOutput pointing(double yaw, double pitch) {
    const double a = yaw * 3.14159265358979323846 / 360.0;
    const double b = pitch * 3.14159265358979323846 / 360.0;
    // (sin b, 0, 0, cos b) x (0, sin a, 0, cos a)
    return MotionOutput{{0, 0, 0},
                        {static_cast<float>(std::sin(b) * std::cos(a)),
                         static_cast<float>(std::cos(b) * std::sin(a)),
                         static_cast<float>(std::sin(b) * std::sin(a)),
                         static_cast<float>(std::cos(b) * std::cos(a))}};
}

struct Step {
    bool placed = false;
    int32_t x = 0, y = 0;
    std::vector<uint32_t> events; // flag words
};

class MouseFeelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setDefaults();
        screenWidth = 1920;
        screenHeight = 1080;
        computeScreenDistancePixels();
        resetPreviousButtons();
        resetMouseReference();
        clearPointerCalls();
        time = 0.0;
    }

    // One sample through the air mouse, one period after the last.
    Step drive(const MotionOutput& out, const ButtonState& buttons = released) {
        time += period;
        return driveAt(out, buttons, time);
    }

    Step driveAt(const MotionOutput& out, const ButtonState& buttons, double seconds) {
        clearPointerCalls();
        driveAirMouse(out, buttons, seconds, feel);
        PointerCall calls[16];
        const int n = copyPointerCalls(calls, 16);
        Step step;
        for (int i = 0; i < n && i < 16; ++i) {
            if (calls[i].kind == PointerCall::place) {
                step.placed = true;
                step.x = calls[i].x;
                step.y = calls[i].y;
            } else {
                step.events.push_back(calls[i].flags);
            }
        }
        return step;
    }

    // Samples over `seconds`, all the same; every event they send.
    std::vector<uint32_t> hold(const MotionOutput& out, const ButtonState& buttons, double seconds,
                               Step* last = nullptr) {
        std::vector<uint32_t> events;
        for (double t = 0.0; t < seconds; t += period) {
            Step s = drive(out, buttons);
            events.insert(events.end(), s.events.begin(), s.events.end());
            if (last) *last = s;
        }
        return events;
    }

    static Step unfiltered(const MotionOutput& out) {
        Step s;
        s.placed = cursorPosition(out, &s.x, &s.y);
        return s;
    }

    MouseFeel feel;
    double time = 0.0;
};

constexpr uint32_t leftDown = 0x8002, leftUp = 0x8004, rightDown = 0x8008, rightUp = 0x8010,
                   middleDown = 0x8020, middleUp = 0x8040;

} // namespace

TEST_F(MouseFeelTest, DefaultsActExactlyAsTheAirMouse) {
    // The same random walk of outputs and buttons, once through the feel with
    // its defaults and once through updateCursor and injectButtons.
    std::vector<PointerCall> viaFeel, plain;
    for (int pass = 0; pass < 2; ++pass) {
        std::srand(7);
        resetPreviousButtons();
        for (int i = 0; i < 300; ++i) {
            const MotionOutput out = pointing(std::rand() % 90 - 45, std::rand() % 60 - 30);
            ButtonState b{};
            for (int32_t& v : b.button)
                v = std::rand() % 4 == 0;
            clearPointerCalls();
            if (pass == 0) {
                driveAirMouse(out, b, i * period, MouseFeel{});
            } else {
                updateCursor(out);
                injectButtons(b);
            }
            PointerCall calls[8];
            const int n = copyPointerCalls(calls, 8);
            for (int k = 0; k < n && k < 8; ++k)
                (pass == 0 ? viaFeel : plain).push_back(calls[k]);
        }
    }
    ASSERT_EQ(viaFeel.size(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        EXPECT_EQ(viaFeel[i].kind, plain[i].kind) << i;
        EXPECT_EQ(viaFeel[i].x, plain[i].x) << i;
        EXPECT_EQ(viaFeel[i].y, plain[i].y) << i;
        EXPECT_EQ(viaFeel[i].flags, plain[i].flags) << i;
        EXPECT_EQ(viaFeel[i].wheelData, plain[i].wheelData) << i;
    }
    // The settings' defaults are the feel's, all off.
    const MouseFeel fromSettings = mouseFeelFromSettings();
    EXPECT_TRUE(mouseFeelOff(fromSettings));
    EXPECT_EQ(fromSettings.minCutoff, defaultMouseMinCutoff);
    EXPECT_EQ(fromSettings.beta, defaultMouseBeta);
    EXPECT_EQ(mouseWindowLength(fromSettings, 32), 32);
}

TEST_F(MouseFeelTest, AdaptiveSettlesOnTheExactPositionAndStartsAfresh) {
    feel.smoothing = MouseSmoothing::adaptive;
    EXPECT_EQ(mouseWindowLength(feel, 32), 1);
    // The first sample passes as it is; a turn is followed, smoothed, until
    // the cursor sits exactly where the unfiltered mapping puts it.
    const Step first = drive(pointing(3.3, -2.1));
    EXPECT_EQ(first.x, unfiltered(pointing(3.3, -2.1)).x);
    const MotionOutput target = pointing(-7.77, 4.44);
    const Step expected = unfiltered(target);
    Step s = drive(target);
    EXPECT_NE(s.x, expected.x) << "the turn was not smoothed at all";
    for (int i = 0; i < 3000; ++i)
        s = drive(target);
    EXPECT_EQ(s.x, expected.x);
    EXPECT_EQ(s.y, expected.y);

    // A new loop (a restart, or Run) forgets the filter: no glide from the old place.
    resetMouseFeel();
    EXPECT_EQ(drive(pointing(10, 10)).x, unfiltered(pointing(10, 10)).x);
    resetMouseReference();
    EXPECT_EQ(drive(pointing(-10, 5)).y, unfiltered(pointing(-10, 5)).y);
}

TEST_F(MouseFeelTest, SampleTimesThatStandStillOrGoBackStayFinite) {
    OneEuroFilter f;
    resetOneEuro(f);
    const OneEuroParameters p{0.3, 6.0, 3.0};
    float out[3];
    const float a[3] = {0.1f, 0.2f, 0.97f}, b[3] = {-0.3f, 0.1f, 0.94f};
    ASSERT_TRUE(filterOneEuro(f, a, 5.0, p, out));
    for (double t : {5.0, 5.0, 4.0, -1e300, 5.0 + 1e-12, 1e300,
                     std::numeric_limits<double>::quiet_NaN(), 2.0}) {
        ASSERT_TRUE(filterOneEuro(f, b, t, p, out));
        for (float v : out)
            EXPECT_TRUE(std::isfinite(v)) << t;
    }
    // A direction that is not finite is refused and does not poison the filter.
    const float bad[3] = {std::numeric_limits<float>::quiet_NaN(), 0.0f, 1.0f};
    EXPECT_FALSE(filterOneEuro(f, bad, 6.0, p, out));
    ASSERT_TRUE(filterOneEuro(f, b, 6.1, p, out));
    EXPECT_TRUE(std::isfinite(out[0]));

    // Through the air mouse: equal and earlier arrival times still place the cursor.
    feel.smoothing = MouseSmoothing::adaptive;
    for (double t : {1.0, 1.0, 1.0, 0.5, 0.0, 2.0}) {
        const Step s = driveAt(pointing(t * 4, 0), released, t);
        EXPECT_TRUE(s.placed) << t;
        EXPECT_GE(s.x, 0);
        EXPECT_LE(s.x, 1919);
    }
}

TEST_F(MouseFeelTest, MiddleHoldRecentersAndAShortPressStillClicks) {
    feel.recenter = MouseRecenter::middleHold;
    const MotionOutput aside = pointing(12, -7);
    const ButtonState middle{{0, 0, 0, 0, 1}};
    drive(aside);
    // A short press: nothing while held, a whole click at its release.
    EXPECT_TRUE(hold(aside, middle, recenterHoldSeconds * 0.4).empty());
    EXPECT_EQ(drive(aside).events, (std::vector<uint32_t>{middleDown, middleUp}));

    // A long press: the cursor goes to the centre and no click is sent.
    Step last;
    std::vector<uint32_t> events = hold(aside, middle, recenterHoldSeconds + 0.3, &last);
    EXPECT_NEAR(last.x, 960, 1);
    EXPECT_NEAR(last.y, 540, 1);
    const Step after = drive(aside);
    events.insert(events.end(), after.events.begin(), after.events.end());
    EXPECT_TRUE(events.empty());
    EXPECT_NEAR(after.x, 960, 1);
    // From then on the pointing is measured from there: 10 degrees further
    // moves the cursor as 10 degrees from the centre does.
    const Step further = drive(pointing(22, -7));
    EXPECT_NEAR(further.x, unfiltered(pointing(10, 0)).x, 20);
    EXPECT_NEAR(further.y, 540, 20);
}

TEST_F(MouseFeelTest, LeftRightChordRecentersWithoutClicks) {
    feel.recenter = MouseRecenter::leftRight;
    const MotionOutput aside = pointing(-15, 9);
    drive(aside);
    // Right a sample after left: a chord.
    EXPECT_TRUE(drive(aside, ButtonState{{1, 0, 0, 0, 0}}).events.empty());
    Step s = drive(aside, ButtonState{{1, 1, 0, 0, 0}});
    EXPECT_TRUE(s.events.empty());
    EXPECT_NEAR(s.x, 960, 1);
    EXPECT_NEAR(s.y, 540, 1);
    EXPECT_TRUE(hold(aside, ButtonState{{1, 1, 0, 0, 0}}, 0.3).empty());
    EXPECT_TRUE(drive(aside, ButtonState{{0, 1, 0, 0, 0}}).events.empty());
    EXPECT_TRUE(drive(aside).events.empty());

    // A quick left click goes out whole at its release; a held right press
    // goes down once the chord's time is over, and up at its release.
    EXPECT_TRUE(drive(aside, ButtonState{{1, 0, 0, 0, 0}}).events.empty());
    EXPECT_EQ(drive(aside).events, (std::vector<uint32_t>{leftDown, leftUp}));
    EXPECT_EQ(hold(aside, ButtonState{{0, 1, 0, 0, 0}}, 0.3), std::vector<uint32_t>{rightDown});
    EXPECT_EQ(drive(aside).events, std::vector<uint32_t>{rightUp});
    // A partner let go as the other goes down: two presses, no chord.
    const MotionOutput further = pointing(-5, 9);
    EXPECT_TRUE(drive(further, ButtonState{{0, 1, 0, 0, 0}}).events.empty());
    s = drive(further, ButtonState{{1, 0, 0, 0, 0}});
    EXPECT_EQ(s.events, (std::vector<uint32_t>{rightDown, rightUp}));
    EXPECT_LT(s.x, 800) << "recentered";
    EXPECT_EQ(hold(aside, ButtonState{{1, 0, 0, 0, 0}}, 0.3), std::vector<uint32_t>{leftDown});
    EXPECT_EQ(drive(aside).events, std::vector<uint32_t>{leftUp});
    // A press while the partner is already down is no chord.
    hold(aside, ButtonState{{0, 1, 0, 0, 0}}, 0.3);
    EXPECT_EQ(drive(aside, ButtonState{{1, 1, 0, 0, 0}}).events, std::vector<uint32_t>{leftDown});
}

TEST_F(MouseFeelTest, ClutchHoldsTheCursorAndMovesOnFromThere) {
    feel.clutch = MouseClutch::right;
    const ButtonState clutch{{0, 1, 0, 0, 0}};
    const Step before = drive(pointing(5, 5));
    // While held the hand turns 20 degrees; the cursor is not placed.
    for (double yaw = 5; yaw <= 25; yaw += 1)
        EXPECT_FALSE(drive(pointing(yaw, 5), clutch).placed);
    // On release it is where it stayed, and moves on from there.
    const Step released1 = drive(pointing(25, 5));
    EXPECT_NEAR(released1.x, before.x, 1);
    EXPECT_NEAR(released1.y, before.y, 1);
    const Step moved = drive(pointing(20, 5));
    EXPECT_GT(moved.x, before.x + 100);
    EXPECT_NEAR(moved.y, before.y, 10);

    // From the edge: clutching there lets the hand come back without the
    // cursor leaving the edge, and the next turn moves it inwards at once.
    resetMouseReference();
    EXPECT_EQ(drive(pointing(-60, 0)).x, 1919);
    hold(pointing(-60, 0), clutch, 0.1);
    hold(pointing(-40, 0), clutch, 0.1);
    EXPECT_EQ(drive(pointing(-40, 0)).x, 1919);
    EXPECT_LT(drive(pointing(-38, 0)).x, 1900);
    // The clutch button never clicks.
    EXPECT_TRUE(hold(pointing(0, 0), clutch, 0.1).empty());
    EXPECT_TRUE(drive(pointing(0, 0)).events.empty());
}

TEST_F(MouseFeelTest, ClickHoldKeepsTheCursorStillAroundPressAndRelease) {
    feel.clickHoldMs = 50;
    const ButtonState left{{1, 0, 0, 0, 0}};
    drive(pointing(0, 0));
    // The press: the cursor holds for 50 ms (7 samples at 150 a second)
    // though the hand jolts, and the click lands where it was.
    Step press = drive(pointing(2, 1), left);
    EXPECT_FALSE(press.placed);
    EXPECT_EQ(press.events, std::vector<uint32_t>{leftDown});
    int held = 1;
    while (!drive(pointing(2, 1), left).placed && held < 100)
        ++held;
    EXPECT_EQ(held, 8);
    // The release holds it again; a held wheel does not.
    EXPECT_FALSE(drive(pointing(4, 1)).placed);
    for (int i = 0; i < 10; ++i)
        drive(pointing(4, 1));
    EXPECT_TRUE(drive(pointing(4, 1), ButtonState{{0, 0, 1, 0, 0}}).placed);
}

TEST_F(MouseFeelTest, ClutchAndRecenterOnOneButtonLeaveItToTheClutch) {
    feel.clutch = MouseClutch::middle;
    feel.recenter = MouseRecenter::middleHold;
    const Step before = drive(pointing(10, 3));
    hold(pointing(30, 3), ButtonState{{0, 0, 0, 0, 1}}, recenterHoldSeconds + 0.3);
    EXPECT_NEAR(drive(pointing(30, 3)).x, before.x, 1);
}

TEST_F(MouseFeelTest, ReachScalesEachAxisAndOneIsTheDefault) {
    EXPECT_EQ(screenReachX.load(), 1.0f);
    EXPECT_EQ(screenReachY.load(), 1.0f);
    struct Case {
        float reachX, reachY;
        double yaw, pitch;
        int32_t x, y;
    };
    // A reach of 2 across is the screen distance 2 of the air mouse's own
    // cases, and leaves the other axis alone.
    const Case cases[] = {
        {1, 1, 10, 0, 621, 540},      {2, 1, 10, 0, 282, 540},    {0.5f, 1, 10, 0, 790, 540},
        {2, 1, 0, 10, 960, 201},      {1, 0.5f, 0, 10, 960, 370}, {1, 3, 0, -10, 960, 1079},
        {0.5f, 0.5f, 0, 0, 960, 540},
    };
    for (const Case& c : cases) {
        settings.mouseReachX = c.reachX;
        settings.mouseReachY = c.reachY;
        computeScreenDistancePixels();
        const Step s = unfiltered(pointing(c.yaw, c.pitch));
        EXPECT_EQ(s.x, c.x) << c.reachX << " " << c.yaw;
        EXPECT_EQ(s.y, c.y) << c.reachY << " " << c.pitch;
    }
}

// Precision mode through the requests a button's action makes: at its press
// and release the cursor stays (within a pixel), in between the hand's turn
// moves it by a precision-th, and afterwards the full gain goes on from there.
TEST_F(MouseFeelTest, PrecisionDividesTheGainWithoutAJump) {
    struct Case {
        float precision, reachX;
        MouseSmoothing smoothing;
        bool toggle;
    };
    const Case cases[] = {{4, 1, MouseSmoothing::average, false},
                          {10, 2, MouseSmoothing::average, true},
                          {2, 1, MouseSmoothing::adaptive, false}};
    for (const Case& c : cases) {
        SetUp();
        settings.mouseReachX = c.reachX;
        computeScreenDistancePixels();
        feel.smoothing = c.smoothing;
        feel.precision = c.precision;
        const auto at = [&](double yaw, BridgeRequests asked = {}) {
            time += period;
            clearPointerCalls();
            driveAirMouseWith(pointing(yaw, 2), released, time, feel, asked);
            PointerCall calls[8];
            const int n = copyPointerCalls(calls, 8);
            EXPECT_TRUE(n >= 1 && calls[0].kind == PointerCall::place);
            return n >= 1 ? calls[0].x : -1;
        };
        for (int i = 0; i < 300; ++i)
            at(-3);
        const int32_t before = at(-3);
        BridgeRequests press, release;
        (c.toggle ? press.precisionToggle : press.precisionPress) = true;
        (c.toggle ? release.precisionToggle : release.precisionRelease) = true;
        EXPECT_NEAR(at(-3, press), before, 1) << c.precision;
        // A 4 degree turn, slowly.
        int32_t x = before;
        for (int i = 1; i <= 400; ++i)
            x = at(-3 + i * 0.01);
        for (int i = 0; i < 300; ++i)
            x = at(1);
        const double full = unfiltered(pointing(1, 2)).x - unfiltered(pointing(-3, 2)).x;
        EXPECT_NEAR(x - before, full / c.precision, 2) << c.precision;
        EXPECT_NEAR(at(1, release), x, 1) << c.precision;
        for (int i = 0; i < 300; ++i)
            EXPECT_NEAR(at(1), x, 1) << c.precision;
        // The full gain again, from where precision mode left the cursor.
        for (int i = 0; i < 300; ++i)
            at(2);
        const double step = unfiltered(pointing(2, 2)).x - unfiltered(pointing(1, 2)).x;
        EXPECT_NEAR(at(2) - x, step, 2) << c.precision;
    }
    settings.mouseReachX = 1.0f;
}

TEST_F(MouseFeelTest, RecenterByAButtonLastsWithTheDefaultFeel) {
    BridgeRequests recenter;
    recenter.recenter = true;
    drive(pointing(12, -7));
    time += period;
    driveAirMouseWith(pointing(12, -7), released, time, feel, recenter);
    for (int i = 0; i < 5; ++i) {
        const Step s = drive(pointing(12, -7));
        EXPECT_NEAR(s.x, 960, 1);
        EXPECT_NEAR(s.y, 540, 1);
    }
}

// The dwell click through the air mouse: its events, once per rest, none
// while the clutch holds; a drag's press let go when the loop starts afresh.
TEST_F(MouseFeelTest, DwellClicksOnceWhereTheCursorRests) {
    feel.dwellClick = DwellClick::doubleClick;
    feel.clutch = MouseClutch::right;
    EXPECT_EQ(hold(pointing(5, 5), released, 3.0),
              (std::vector<uint32_t>{leftDown, leftUp, leftDown, leftUp}));
    EXPECT_TRUE(hold(pointing(5, 5), ButtonState{{0, 1, 0, 0, 0}}, 3.0).empty());
    EXPECT_TRUE(hold(pointing(5, 5), released, 1.0).empty()) << "no pause after the clutch";

    feel.dwellClick = DwellClick::drag;
    resetMouseFeel();
    EXPECT_EQ(hold(pointing(-5, 5), released, 3.0), std::vector<uint32_t>{leftDown});
    clearPointerCalls();
    resetMouseFeel();
    PointerCall up[4];
    ASSERT_EQ(copyPointerCalls(up, 4), 1);
    EXPECT_EQ(up[0].flags, leftUp);

    // A button's Dwell action turns it on with the setting off, as left clicks.
    feel = MouseFeel{};
    BridgeRequests toggle;
    toggle.dwellToggle = true;
    time += period;
    driveAirMouseWith(pointing(0, 0), released, time, feel, toggle);
    EXPECT_EQ(hold(pointing(0, 0), released, 3.0), (std::vector<uint32_t>{leftDown, leftUp}));
    time += period;
    driveAirMouseWith(pointing(9, 0), released, time, feel, toggle);
    EXPECT_TRUE(hold(pointing(9, 0), released, 3.0).empty());

    // Past the right edge the cursor stays at the edge, but a hand swinging
    // there at 125 degrees a second is not at rest; pointing still there is.
    feel.dwellClick = DwellClick::left;
    resetMouseFeel();
    std::vector<uint32_t> swung;
    for (int i = 0; i < 300; ++i) {
        const double phase = std::fmod(i * period * 125.0, 80.0); // 0..80, back and forth
        const Step step = drive(pointing(-35.0 - (phase < 40.0 ? phase : 80.0 - phase), 0));
        EXPECT_EQ(step.x, 1919);
        swung.insert(swung.end(), step.events.begin(), step.events.end());
    }
    EXPECT_TRUE(swung.empty());
    EXPECT_EQ(hold(pointing(-50, 0), released, 3.0), (std::vector<uint32_t>{leftDown, leftUp}));
}

// The three pointer modes on one path each: a recorded wander's relative
// moves add up to the absolute path with no drift; past the right edge the
// hybrid drags the centre so that turning back leaves the edge at once; a
// recenter puts the cursor at the centre, or in relative mode only turns
// the aim.
TEST_F(MouseFeelTest, PointerModesFollowTheAimedPoint) {
    // The sign of a turn to the right.
    const double right = unfiltered(pointing(30, 0)).x > 960 ? 1.0 : -1.0;
    struct Moved {
        int places = 0, moves = 0;
        int32_t x = 0, y = 0; // the place, or the moves' sum
    };
    const auto step = [&](const MotionOutput& out, Moved& m, BridgeRequests asked = {}) {
        clearPointerCalls();
        time += period;
        driveAirMouseWith(out, released, time, feel, asked);
        PointerCall calls[16];
        const int n = copyPointerCalls(calls, 16);
        for (int i = 0; i < n && i < 16; ++i) {
            if (calls[i].kind == PointerCall::place) {
                ++m.places;
                m.x = calls[i].x;
                m.y = calls[i].y;
            }
            if (calls[i].kind == PointerCall::move) {
                ++m.moves;
                m.x += calls[i].x;
                m.y += calls[i].y;
            }
        }
    };

    // A wander within the screen: the absolute places, then the relative
    // moves from the first place on, line by line.
    std::vector<Step> path;
    for (PointerMode mode : {PointerMode::absolute, PointerMode::relative}) {
        SetUp();
        feel.mode = mode;
        std::srand(11);
        double yaw = 0.0, pitch = 0.0;
        Moved m;
        for (int i = 0; i < 10000; ++i) {
            yaw += (std::rand() % 2001 - 1000) / 4000.0;
            pitch += (std::rand() % 2001 - 1000) / 4000.0;
            yaw = std::fmax(-20.0, std::fmin(20.0, yaw));
            pitch = std::fmax(-12.0, std::fmin(12.0, pitch));
            step(pointing(yaw, pitch), m);
            if (mode == PointerMode::absolute) {
                path.push_back(Step{true, m.x, m.y, {}});
            } else if (i > 0) {
                ASSERT_EQ(path[0].x + m.x, path[i].x) << "line " << i;
                ASSERT_EQ(path[0].y + m.y, path[i].y) << "line " << i;
            }
        }
        if (mode == PointerMode::relative) {
            EXPECT_EQ(m.places, 0);
            EXPECT_GT(m.moves, 1000);
        }
    }

    const double edge = std::atan(0.5) * 180.0 / 3.14159265358979323846; // 1920 px away
    struct Case {
        PointerMode mode;
        float gain;
        // After 10° past the right edge and 1° back: the cursor's x, or
        // (relative) how far the moves took it back: the plane's pixels,
        // wider out there than at the centre.
        int32_t backMin, backMax;
        // After a recenter at 10° right: where the cursor is, or (relative)
        // that nothing moved; then the pixels of a 1° turn.
        bool centred;
        int32_t turnMin, turnMax;
        uint32_t leftDown; // the flag word of a left press
    };
    const Case cases[] = {
        {PointerMode::absolute, 1.0f, 1919, 1919, true, 30, 37, leftDown},
        {PointerMode::hybrid, 1.0f, 1860, 1895, true, 30, 37, leftDown},
        {PointerMode::relative, 1.0f, -56, -48, false, 30, 37, leftDown & ~0x8000u},
        {PointerMode::relative, 2.0f, -110, -96, false, 60, 74, leftDown & ~0x8000u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode) * 10 + static_cast<int>(c.gain));
        SetUp();
        feel.mode = c.mode;
        feel.relativeGain = c.gain;
        Moved m;
        for (double a = 0.0; a < edge + 10.0; a += 0.5)
            step(pointing(right * a, 0), m);
        step(pointing(right * (edge + 10.0), 0), m);
        if (c.mode != PointerMode::relative) {
            EXPECT_EQ(m.x, 1919);
        }
        Moved back;
        step(pointing(right * (edge + 9.0), 0), back);
        if (c.mode == PointerMode::relative) {
            EXPECT_EQ(back.places, 0);
        } else {
            EXPECT_EQ(back.moves, 0);
            back.x = back.places ? back.x : m.x;
        }
        EXPECT_GE(back.x, c.backMin);
        EXPECT_LE(back.x, c.backMax);

        SetUp();
        feel.mode = c.mode;
        feel.relativeGain = c.gain;
        Moved r;
        step(pointing(right * 10.0, 0), r);
        BridgeRequests recenter;
        recenter.recenter = true;
        Moved after;
        step(pointing(right * 10.0, 0), after, recenter);
        if (c.centred) {
            EXPECT_EQ(after.x, 960);
            EXPECT_EQ(after.y, 540);
        } else {
            EXPECT_EQ(after.moves + after.places, 0);
        }
        Moved turn;
        step(pointing(right * 11.0, 0), turn);
        const int32_t dx = c.mode == PointerMode::relative ? turn.x : turn.x - after.x;
        EXPECT_GE(dx, c.turnMin);
        EXPECT_LE(dx, c.turnMax);

        // The buttons act in every mode; records beside relative moves carry
        // no absolute mark.
        settings.pointerMode = c.mode;
        const Step press = drive(pointing(right * 11.0, 0), ButtonState{{1, 0, 0, 0, 0}});
        EXPECT_EQ(press.events, std::vector<uint32_t>{c.leftDown});
        drive(pointing(right * 11.0, 0));
    }

    // Hybrid under precision mode: the overflow moves the anchor instead,
    // and turning back leaves the edge at once all the same.
    SetUp();
    feel.mode = PointerMode::hybrid;
    BridgeRequests precision;
    precision.precisionPress = true;
    Moved m;
    step(pointing(0, 0), m, precision);
    for (double a = 0.0; a < 75.0; a += 0.5)
        step(pointing(right * a, 0), m);
    step(pointing(right * 75.0, 0), m);
    EXPECT_EQ(m.x, 1919);
    step(pointing(right * 74.0, 0), m);
    EXPECT_LT(m.x, 1919 - 20);
    EXPECT_GT(m.x, 1919 - 200);
}
