#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "motion/angular_rate.h"
#include "motion/averaging.h"
#include "motion/orientation.h"

namespace {

Sample quaternionSample(float x, float y, float z, float w, float ax = 0, float ay = 0,
                        float az = 0) {
    return Sample{{ax, ay, az, x, y, z, w}};
}

uint32_t bitsOf(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// Bit-exact comparison, so that -0 and +0 differ.
#define EXPECT_BITS(actual, expected) EXPECT_EQ(bitsOf(actual), bitsOf(expected))

MotionOutput single(const Sample& s, bool acceleration = false) {
    return computeMotion(&s, 1, acceleration, identityMotion());
}

MotionOutput rotation(int axis, double degrees) {
    const double half = degrees * 3.14159265358979323846 / 360.0;
    float v[3] = {0, 0, 0};
    v[axis] = static_cast<float>(std::sin(half));
    return single(quaternionSample(v[0], v[1], v[2], static_cast<float>(std::cos(half))));
}

} // namespace

TEST(AveragingWindow, SlidesWithItsCapacity) {
    AveragingWindow window;
    Sample a{{1, 0, 0, 0, 0, 0, 1}}, b{{2, 0, 0, 0, 0, 0, 1}}, c{{3, 0, 0, 0, 0, 0, 1}},
        d{{4, 0, 0, 0, 0, 0, 1}};
    EXPECT_EQ(pushSample(window, a, 3), 1);
    EXPECT_EQ(pushSample(window, b, 3), 2);
    EXPECT_EQ(pushSample(window, c, 3), 3);
    EXPECT_EQ(pushSample(window, d, 3), 3);
    EXPECT_EQ(window.samples[0].value[0], 2.0f);
    EXPECT_EQ(window.samples[1].value[0], 3.0f);
    EXPECT_EQ(window.samples[2].value[0], 4.0f);
    // Capacity lowered below the count: the count stays, the oldest falls out.
    EXPECT_EQ(pushSample(window, a, 1), 3);
    EXPECT_EQ(window.samples[2].value[0], 1.0f);
    // Reset as the Run command does: the stale slots are never read.
    window.count = 0;
    EXPECT_EQ(pushSample(window, d, 32), 1);
    MotionOutput out = computeMotion(window.samples, 1, true, identityMotion());
    EXPECT_EQ(out.anglesOrAcceleration[0], 4.0f);
}

TEST(AveragingWindow, CapacityOutsideItsRangeNeverLeavesTheStorage) {
    AveragingWindow window;
    Sample s{{1, 2, 3, 0, 0, 0, 1}};
    EXPECT_EQ(pushSample(window, s, 0), 1);
    EXPECT_EQ(pushSample(window, s, -5), 1);
    for (int i = 0; i < 600; ++i)
        pushSample(window, s, 1000);
    EXPECT_EQ(window.count, 255);
    window.count = 9999; // a corrupted count is brought back into the storage too
    EXPECT_EQ(pushSample(window, s, 1000), 255);
}

TEST(AveragingWindow, SumsInSlotOrderFromTheFirstSample) {
    Sample slots[3] = {quaternionSample(0, 0, 0, 1, 100000000.0f),
                       quaternionSample(0, 0, 0, 1, 1.0f),
                       quaternionSample(0, 0, 0, 1, -100000000.0f)};
    MotionOutput out = computeMotion(slots, 3, true, identityMotion());
    EXPECT_BITS(out.anglesOrAcceleration[0], 0.0f);
    MotionOutput negativeZero = single(quaternionSample(0, 0, 0, 1, -0.0f), true);
    EXPECT_BITS(negativeZero.anglesOrAcceleration[0], -0.0f);
    Sample one = quaternionSample(0.1f, 0.2f, 0.3f, 0.9f, 1.25f, -2.5f, 9.81f);
    MotionOutput exact = single(one, true);
    EXPECT_BITS(exact.anglesOrAcceleration[0], 1.25f);
    EXPECT_BITS(exact.anglesOrAcceleration[2], 9.81f);
}

TEST(Orientation, AnglesOfTheWorkedRotations) {
    MotionOutput identity = single(quaternionSample(0, 0, 0, 1));
    EXPECT_BITS(identity.anglesOrAcceleration[0], 0.0f);
    EXPECT_BITS(identity.anglesOrAcceleration[1], 0.0f);
    EXPECT_BITS(identity.anglesOrAcceleration[2], -0.0f);
    EXPECT_BITS(identity.quaternion[3], 1.0f);

    EXPECT_BITS(rotation(0, 30).anglesOrAcceleration[0], 30.000004f);
    EXPECT_EQ(rotation(0, 30).anglesOrAcceleration[1], 0.0f);
    EXPECT_BITS(rotation(2, -30).anglesOrAcceleration[2], -30.000004f);
    MotionOutput half0 = single(quaternionSample(1, 0, 0, 0));
    EXPECT_EQ(half0.anglesOrAcceleration[0], 180.0f);
    EXPECT_EQ(half0.anglesOrAcceleration[1], 0.0f);
    EXPECT_BITS(half0.anglesOrAcceleration[2], -0.0f);
    MotionOutput half2 = single(quaternionSample(0, 0, 1, 0));
    EXPECT_EQ(half2.anglesOrAcceleration[0], 0.0f);
    EXPECT_EQ(half2.anglesOrAcceleration[2], -180.0f);

    MotionOutput gimbal = single(quaternionSample(0, 0.70710677f, 0, 0.70710677f));
    EXPECT_BITS(gimbal.anglesOrAcceleration[0], 0.0f);
    EXPECT_EQ(gimbal.anglesOrAcceleration[1], 90.0f);
    EXPECT_EQ(gimbal.anglesOrAcceleration[2], 0.0f);

    MotionOutput scaled = single(quaternionSample(0, 0, 0, 2));
    EXPECT_BITS(scaled.quaternion[3], 1.0f);
    EXPECT_BITS(scaled.quaternion[0], 0.0f);
}

TEST(Orientation, AccelerationModeKeepsTheQuaternion) {
    Sample s = quaternionSample(0.1f, 0.2f, 0.3f, 0.9f, 0.5f, 0.25f, 1.0f);
    MotionOutput angles = single(s, false);
    MotionOutput acceleration = single(s, true);
    for (int i = 0; i < 4; ++i)
        EXPECT_BITS(angles.quaternion[i], acceleration.quaternion[i]);
    EXPECT_EQ(acceleration.anglesOrAcceleration[1], 0.25f);
}

TEST(Orientation, CancellingQuaternionsFallBackToThePreviousOrientation) {
    Sample slots[2] = {quaternionSample(0, 0, 0, 1), quaternionSample(0, 0, 0, -1)};
    MotionOutput first = computeMotion(slots, 2, false, identityMotion());
    for (float v : first.quaternion)
        EXPECT_FALSE(std::isnan(v));
    EXPECT_EQ(first.quaternion[3], 1.0f);
    EXPECT_FALSE(std::isnan(first.anglesOrAcceleration[0]));

    MotionOutput previous = rotation(0, 30);
    MotionOutput kept = computeMotion(slots, 2, false, previous);
    for (int i = 0; i < 4; ++i)
        EXPECT_BITS(kept.quaternion[i], previous.quaternion[i]);
    EXPECT_BITS(kept.anglesOrAcceleration[0], previous.anglesOrAcceleration[0]);

    // Finite components whose squared length overflows would give all zeros.
    Sample huge[1] = {quaternionSample(0, 0, 2e19f, 2e19f)};
    kept = computeMotion(huge, 1, false, previous);
    for (int i = 0; i < 4; ++i)
        EXPECT_BITS(kept.quaternion[i], previous.quaternion[i]);
}

TEST(QuaternionMatrix, RoundsEachProductOnItsOwn) {
    RotationMatrix m = quaternionToMatrix(0.1f, 0.2f, 0.3f, 0.9f);
    const float x2 = 0.2f, y2 = 0.4f, z2 = 0.6f;
    float a = z2 * 0.9f, b = y2 * 0.1f;
    EXPECT_BITS(m.m[1], a + b);
    a = z2 * 0.3f;
    b = y2 * 0.2f;
    EXPECT_BITS(m.m[0], 1.0f - (a + b));
    a = z2 * 0.2f;
    b = x2 * 0.9f;
    EXPECT_BITS(m.m[9], a - b);
    EXPECT_EQ(m.m[3], 0.0f);
    EXPECT_EQ(m.m[12], 0.0f);
    EXPECT_EQ(m.m[15], 1.0f);
}

// A turn of 90 degrees in half a second about each axis is pi radians a
// second about that axis, from either sign of the end quaternion (the same
// orientation), and measured in the start's own axes.
TEST(AngularRate, TurnOverTheSampleTimeTheShorterWayRound) {
    const double h = std::sqrt(0.5);
    const double pi = 3.14159265358979323846;
    const double identity[4] = {0, 0, 0, 1};
    const double aboutFirst[4] = {h, 0, 0, h};
    struct Case {
        const double* from;
        double to[4];
        double expected[3];
    } cases[] = {
        {identity, {h, 0, 0, h}, {pi, 0, 0}},   {identity, {0, h, 0, h}, {0, pi, 0}},
        {identity, {0, 0, -h, -h}, {0, 0, pi}}, // the same turn, negated
        {aboutFirst, {1, 0, 0, 0}, {pi, 0, 0}}, // on from 90 to 180 degrees
        {aboutFirst, {h, 0, 0, h}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        double rate[3];
        angularRate(c.from, c.to, 0.5, rate);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(rate[i], c.expected[i], 1e-9) << i;
    }
}
