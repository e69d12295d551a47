// The datagrams as bytes: the OSC message, opentrack's pose and its angles,
// and the udpTarget text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "output/udp/opentrack_pose.h"
#include "output/udp/osc_message.h"
#include "output/udp/udp_output.h"

namespace {

const float pi = 3.14159265358979f;

// The unit quaternion of a turn by degrees about one device axis (0, 1, 2).
MotionOutput turnAbout(int axis, float degrees) {
    MotionOutput m{};
    const float half = degrees * pi / 360.0f;
    m.quaternion[axis] = std::sin(half);
    m.quaternion[3] = std::cos(half);
    return m;
}

double doubleAt(const unsigned char* bytes) {
    uint64_t word = 0;
    for (int i = 7; i >= 0; --i)
        word = (word << 8) | bytes[i];
    double value;
    std::memcpy(&value, &word, sizeof value);
    return value;
}

TEST(OscMotion, BytesAreOsc10WithBigEndianArguments) {
    const float numbers[7] = {1.0f, -2.5f, 0.0f, 0.5f, -0.0f, 0.25f, 1.0f};
    const int32_t buttons[5] = {1, 0, -1, 2, 0x01020304};
    unsigned char out[100];
    ASSERT_EQ(encodeOscMotion(numbers, buttons, out, sizeof out), 80u);
    const unsigned char head[32] = {'/', 't', 'o', 'l', 'v', 'a', 'n', 'e', '/', 'm', 'o',
                                    't', 'i', 'o', 'n', 0,   ',', 'f', 'f', 'f', 'f', 'f',
                                    'f', 'f', 'i', 'i', 'i', 'i', 'i', 0,   0,   0};
    EXPECT_EQ(std::memcmp(out, head, sizeof head), 0);
    const unsigned char arguments[48] = {
        0x3f, 0x80, 0, 0, 0xc0, 0x20, 0,    0,    0,    0,    0, 0, 0x3f, 0, 0, 0,
        0x80, 0,    0, 0, 0x3e, 0x80, 0,    0,    0x3f, 0x80, 0, 0, 0,    0, 0, 1,
        0,    0,    0, 0, 0xff, 0xff, 0xff, 0xff, 0,    0,    0, 2, 0,    0, 0, 0};
    EXPECT_EQ(std::memcmp(out + 32, arguments, 44), 0);
    const unsigned char last[4] = {1, 2, 3, 4};
    EXPECT_EQ(std::memcmp(out + 76, last, 4), 0);
    EXPECT_EQ(encodeOscMotion(numbers, buttons, out, 79), 0u);
}

TEST(OpentrackPose, SixLittleEndianDoublesWithoutPosition) {
    unsigned char out[opentrackPoseSize];
    std::memset(out, 0xaa, sizeof out);
    encodeOpentrackPose({12.5, -1.0, 0.25}, out);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(out[i], 0) << i;
    // 12.5 = 0x4029000000000000, low byte first.
    const unsigned char yaw[8] = {0, 0, 0, 0, 0, 0, 0x29, 0x40};
    EXPECT_EQ(std::memcmp(out + 24, yaw, 8), 0);
    EXPECT_EQ(doubleAt(out + 32), -1.0);
    EXPECT_EQ(doubleAt(out + 40), 0.25);
}

TEST(OpentrackPose, EachDeviceAxisGivesOneAngle) {
    struct Case {
        int axis;
        float degrees;
        double yaw, pitch, roll;
    } cases[] = {
        {0, 10, 0, 10, 0}, {0, -10, 0, -10, 0},   {1, 10, -10, 0, 0},  {1, -30, 30, 0, 0},
        {2, 10, 0, 0, 10}, {2, -170, 0, 0, -170}, {1, 180, 180, 0, 0}, {0, 90, 0, 90, 0},
    };
    for (const Case& c : cases) {
        const HeadAngles a = headAnglesOf(turnAbout(c.axis, c.degrees).quaternion);
        SCOPED_TRACE(testing::Message() << "axis " << c.axis << " by " << c.degrees);
        EXPECT_NEAR(std::fabs(a.yaw), std::fabs(c.yaw), 1e-4);
        if (std::fabs(c.yaw) < 179) {
            EXPECT_NEAR(a.yaw, c.yaw, 1e-4);
        }
        EXPECT_NEAR(a.pitch, c.pitch, 1e-4);
        EXPECT_NEAR(a.roll, c.roll, 1e-4);
    }
}

TEST(OpentrackPose, TurnsComposeYawThenPitchThenRoll) {
    // Yaw 30 (device: -30 about the second axis), then pitch 20 (+20 about the
    // first axis of the turned device), then roll 10 (+10 about the third).
    auto multiply = [](const float a[4], const float b[4], float out[4]) {
        out[0] = a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1];
        out[1] = a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0];
        out[2] = a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3];
        out[3] = a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2];
    };
    float yawPitch[4], all[4];
    multiply(turnAbout(1, -30).quaternion, turnAbout(0, 20).quaternion, yawPitch);
    multiply(yawPitch, turnAbout(2, 10).quaternion, all);
    const HeadAngles a = headAnglesOf(all);
    EXPECT_NEAR(a.yaw, 30, 1e-4);
    EXPECT_NEAR(a.pitch, 20, 1e-4);
    EXPECT_NEAR(a.roll, 10, 1e-4);
}

TEST(OpentrackPose, UnturnedAnglesAreZeroBytes) {
    unsigned char out[opentrackPoseSize];
    for (int axis = 0; axis < 3; ++axis) {
        encodeOpentrackPose(headAnglesOf(turnAbout(axis, 10).quaternion), out);
        const int turned = axis == 0 ? 4 : axis == 1 ? 3 : 5;
        for (int value = 0; value < 6; ++value) {
            if (value == turned) continue;
            for (int i = 0; i < 8; ++i)
                EXPECT_EQ(out[8 * value + i], 0) << axis << " " << value;
        }
    }
}

TEST(UdpDatagram, FormatsCarryTheLanOutput) {
    MotionOutput m = turnAbout(0, 10);
    m.anglesOrAcceleration[0] = 10.0f;
    const ButtonState buttons{{1, 0, 0, 0, 1}};
    unsigned char out[udpDatagramCapacity];
    ASSERT_EQ(encodeUdpDatagram(UdpFormat::opentrack, m, buttons, out), 48);
    EXPECT_NEAR(doubleAt(out + 32), 10.0, 1e-4);
    ASSERT_EQ(encodeUdpDatagram(UdpFormat::osc, m, buttons, out), 80);
    EXPECT_EQ(out[32], 0x41); // 10.0f = 0x41200000
    EXPECT_EQ(out[33], 0x20);
    EXPECT_EQ(out[79], 1);
}

} // namespace
