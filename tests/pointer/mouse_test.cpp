#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "output/hand/air_mouse.h"
#include "output/desktop/pointer.h"
#include "settings/settings.h"
#include "tests/support/recording_pointer.h"

namespace {

// A rotation by `degrees` about one quaternion axis, computed in double and
// rounded to single like a device would report it.
MotionOutput rotation(int axis, double degrees) {
    const double half = degrees * 3.14159265358979323846 / 360.0;
    MotionOutput out{{0, 0, 0}, {0, 0, 0, static_cast<float>(std::cos(half))}};
    out.quaternion[axis] = static_cast<float>(std::sin(half));
    return out;
}

struct Point {
    int32_t x, y;
    bool operator==(const Point&) const = default;
};

void PrintTo(const Point& p, std::ostream* os) {
    *os << "(" << p.x << ", " << p.y << ")";
}

class AirMouse : public ::testing::Test {
  protected:
    void SetUp() override {
        setDefaults();
        useScreen(1920, 1080, 1.0f);
        resetPreviousButtons();
        clearPointerCalls();
    }

    static void useScreen(int32_t width, int32_t height, float distance) {
        screenWidth = width;
        screenHeight = height;
        settings.screenDistance = distance;
        computeScreenDistancePixels();
    }

    // Where updateCursor puts the cursor; (-999, -999) when it leaves it alone.
    static Point cursorFor(const MotionOutput& out) {
        clearPointerCalls();
        updateCursor(out);
        PointerCall calls[2];
        const int n = copyPointerCalls(calls, 2);
        if (n == 0) return Point{-999, -999};
        EXPECT_EQ(n, 1);
        EXPECT_EQ(calls[0].kind, PointerCall::place);
        return Point{calls[0].x, calls[0].y};
    }

    // The events one sample sends, as (flags, wheel data) pairs.
    static std::vector<std::pair<uint32_t, int32_t>> eventsFor(ButtonState buttons) {
        clearPointerCalls();
        injectButtons(buttons);
        PointerCall calls[8];
        const int n = copyPointerCalls(calls, 8);
        std::vector<std::pair<uint32_t, int32_t>> events;
        for (int i = 0; i < n && i < 8; ++i) {
            EXPECT_EQ(calls[i].kind, PointerCall::event);
            events.emplace_back(calls[i].flags, calls[i].wheelData);
        }
        return events;
    }
};

using Events = std::vector<std::pair<uint32_t, int32_t>>;

} // namespace

TEST_F(AirMouse, WorkedCursorPositions) {
    EXPECT_EQ(cursorFor(MotionOutput{{0, 0, 0}, {0, 0, 0, 1}}), (Point{960, 540}));
    EXPECT_EQ(cursorFor(rotation(1, 10)), (Point{621, 540}));
    EXPECT_EQ(cursorFor(rotation(1, -10)), (Point{1298, 540}));
    EXPECT_EQ(cursorFor(rotation(0, 10)), (Point{960, 201}));
    EXPECT_EQ(cursorFor(rotation(0, -10)), (Point{960, 878}));
    for (double angle : {-170.0, -45.0, 10.0, 90.0, 179.0})
        EXPECT_EQ(cursorFor(rotation(2, angle)), (Point{960, 540})) << angle;
    // Beyond the left edge, and pointing backwards (through the opposite side).
    EXPECT_EQ(cursorFor(rotation(1, 45)), (Point{0, 540}));
    EXPECT_EQ(cursorFor(rotation(1, 170)), (Point{1298, 540}));
    EXPECT_EQ(cursorFor(rotation(1, -60)), (Point{1919, 540}));
    EXPECT_EQ(cursorFor(rotation(0, 80)), (Point{960, 0}));
    EXPECT_EQ(cursorFor(rotation(0, -80)), (Point{960, 1079}));
}

TEST_F(AirMouse, DistanceAndScreenSizeScaleTheMapping) {
    useScreen(1920, 1080, 2.0f);
    EXPECT_EQ(screenDistancePixels.load(), 3840.0f);
    EXPECT_EQ(cursorFor(rotation(1, 10)), (Point{282, 540}));
    useScreen(1920, 1080, 0.5f);
    EXPECT_EQ(cursorFor(rotation(1, 10)), (Point{790, 540}));
    useScreen(1365, 767, 1.0f);
    EXPECT_EQ(cursorFor(MotionOutput{{0, 0, 0}, {0, 0, 0, 1}}), (Point{682, 383}));
    // The distance is taken once per worker: a later settings change waits.
    settings.screenDistance = 3.0f;
    EXPECT_EQ(screenDistancePixels.load(), 1365.0f);
}

TEST_F(AirMouse, CoordinateThatIsNotANumberLeavesTheCursorAlone) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // Pointing along the plane with no sideways part: dx = 0 and dz = 0, so
    // x is 0 times infinity while y runs off to the bottom edge.
    EXPECT_EQ(cursorFor(MotionOutput{{0, 0, 0}, {0.5f, 0.5f, 0.5f, -0.5f}}), (Point{-999, -999}));
    EXPECT_EQ(cursorFor(MotionOutput{{0, 0, 0}, {0.5f, 0.5f, 0.5f, 0.5f}}), (Point{-999, -999}));
    EXPECT_EQ(cursorFor(MotionOutput{{0, 0, 0}, {nan, nan, nan, nan}}), (Point{-999, -999}));
    EXPECT_EQ(cursorFor(MotionOutput{{0, 0, 0}, {inf, 0, 0, 1}}), (Point{-999, -999}));
    // Along the plane but sideways: both coordinates are infinite, which the
    // limits bring to the bottom-left corner.
    EXPECT_EQ(cursorFor(MotionOutput{{0, 0, 0}, {0.5f, 0.5f, 0.70710677f, 0}}), (Point{0, 1079}));
}

TEST_F(AirMouse, HeldButtonSendsOneDownAndOneUp) {
    const Events leftDown{{0x8002u, 0}}, leftUp{{0x8004u, 0}}, none{};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(eventsFor(ButtonState{{1, 0, 0, 0, 0}}), i == 0 ? leftDown : none) << i;
    EXPECT_EQ(eventsFor(ButtonState{{0, 0, 0, 0, 0}}), leftUp);
    EXPECT_EQ(eventsFor(ButtonState{{0, 0, 0, 0, 0}}), none);

    EXPECT_EQ(eventsFor(ButtonState{{0, 1, 0, 0, 0}}), (Events{{0x8008u, 0}}));
    EXPECT_EQ(eventsFor(ButtonState{{0, 0, 0, 0, 0}}), (Events{{0x8010u, 0}}));
    EXPECT_EQ(eventsFor(ButtonState{{0, 0, 0, 0, 1}}), (Events{{0x8020u, 0}}));
    EXPECT_EQ(eventsFor(ButtonState{{0, 0, 0, 0, 0}}), (Events{{0x8040u, 0}}));
}

TEST_F(AirMouse, EveryStateButOneCountsAsReleased) {
    // A change between two released states still sends an up event.
    EXPECT_EQ(eventsFor(ButtonState{{2, 0, 0, 0, 0}}), (Events{{0x8004u, 0}}));
    EXPECT_EQ(eventsFor(ButtonState{{2, 0, 0, 0, 0}}), Events{});
    EXPECT_EQ(eventsFor(ButtonState{{1, 0, 0, 0, 0}}), (Events{{0x8002u, 0}}));
    EXPECT_EQ(eventsFor(ButtonState{{-3, 0, 0, 0, 0}}), (Events{{0x8004u, 0}}));
    EXPECT_EQ(eventsFor(ButtonState{{0, 0, 0, 0, 0}}), (Events{{0x8004u, 0}}));
    // A wheel button in any state but 1 sends nothing.
    EXPECT_EQ(eventsFor(ButtonState{{0, 0, 7, -1, 0}}), Events{});
}

TEST_F(AirMouse, WheelRepeatsWhileHeldWithTheCurrentSpeed) {
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(eventsFor(ButtonState{{0, 0, 1, 0, 0}}), (Events{{0x0800u, 4}})) << i;
    EXPECT_EQ(eventsFor(ButtonState{{0, 0, 0, 0, 0}}), Events{});
    EXPECT_EQ(eventsFor(ButtonState{{0, 0, 0, 1, 0}}), (Events{{0x0800u, -4}}));
    settings.scrollSpeed = 120;
    EXPECT_EQ(eventsFor(ButtonState{{0, 0, 0, 1, 0}}), (Events{{0x0800u, -120}}));
    // The file does not limit the speed; the extreme value must not overflow.
    settings.scrollSpeed = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(eventsFor(ButtonState{{0, 0, 1, 1, 0}}),
              (Events{{0x0800u, std::numeric_limits<int32_t>::min()},
                      {0x0800u, std::numeric_limits<int32_t>::min()}}));
}

TEST_F(AirMouse, ButtonsGoInOrderAndRestartPressesAgain) {
    EXPECT_EQ(eventsFor(ButtonState{{1, 1, 1, 1, 1}}),
              (Events{{0x8002u, 0}, {0x8008u, 0}, {0x0800u, 4}, {0x0800u, -4}, {0x8020u, 0}}));
    EXPECT_EQ(eventsFor(ButtonState{{1, 1, 0, 0, 1}}), Events{});
    // A restart forgets what was held: the same states press again.
    resetPreviousButtons();
    EXPECT_EQ(eventsFor(ButtonState{{1, 1, 0, 0, 1}}),
              (Events{{0x8002u, 0}, {0x8008u, 0}, {0x8020u, 0}}));
    EXPECT_EQ(eventsFor(ButtonState{{0, 0, 0, 0, 0}}),
              (Events{{0x8004u, 0}, {0x8010u, 0}, {0x8040u, 0}}));
}
