// The OSC encoder against liblo: the same bytes as liblo's own message (the
// gateway's OSC output before it used this encoder; publish_e2e.py has
// oscdump read the gateway's messages).
#include <gtest/gtest.h>
#include <lo/lo.h>

#include <cstring>
#include <limits>

#include "output/udp/osc_message.h"

namespace {

struct Values {
    float numbers[7];
    int32_t buttons[5];
};

const Values cases[] = {
    {{0, 0, -0.0f, 0, 0, 0, 1}, {0, 0, 0, 0, 0}},
    {{12.5f, -89.999f, 179.0f, 0.70711f, -0.5f, 0.25f, -0.00001f}, {1, 0, 1, 0, 1}},
    {{1e30f, -1e-30f, std::numeric_limits<float>::infinity(), 0.1f, 0.2f, 0.3f, 0.4f},
     {-1, 2147483647, -2147483647 - 1, 9, 255}},
};

TEST(OscInterop, SameBytesAsLiblo) {
    for (const Values& v : cases) {
        lo_message message = lo_message_new();
        for (float number : v.numbers)
            lo_message_add_float(message, number);
        for (int32_t button : v.buttons)
            lo_message_add_int32(message, button);
        unsigned char theirs[200];
        size_t theirSize = sizeof theirs;
        ASSERT_NE(lo_message_serialise(message, oscMotionAddress, theirs, &theirSize), nullptr);
        lo_message_free(message);

        unsigned char ours[200];
        const size_t ourSize = encodeOscMotion(v.numbers, v.buttons, ours, sizeof ours);
        ASSERT_EQ(ourSize, theirSize);
        EXPECT_EQ(std::memcmp(ours, theirs, ourSize), 0);
    }
}

} // namespace
