#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "protocol/reply_text.h"

namespace {
const MotionOutput worked{{12.5f, -0.0f, -179.99951f}, {0.70710677f, 0.0f, 0.0f, 0.70710677f}};
const ButtonState pressed{{1, 0, 0, 0, 1}};
} // namespace

TEST(ReplyText, PlainReplyIsSeventyTwoBytes) {
    char out[replyTextSize];
    int n = formatPlainReply(out, sizeof out, worked, pressed);
    EXPECT_EQ(n, 72);
    EXPECT_EQ(std::string(out),
              "  12.500,  -0.000,-180.000, 0.70711, 0.00000, 0.00000, 0.70711,1,0,0,0,1");
}

TEST(ReplyText, JsonReplyIsNinetyTwoBytes) {
    char out[replyTextSize];
    int n = formatJsonReply(out, sizeof out, worked, pressed);
    EXPECT_EQ(n, 92);
    EXPECT_EQ(std::string(out), "{\"d\":[  12.500,  -0.000,-180.000],\"q\":[ 0.70711, 0.00000, "
                                "0.00000, 0.70711],\"b\":[1,0,0,0,1]}");
}

TEST(ReplyText, TooLongATextIsRefusedNotCut) {
    // Even the widest floats and buttons fit the 256-byte buffer; a smaller
    // buffer shows that a text which does not fit is refused, not cut.
    MotionOutput huge{{-3.4e38f, -3.4e38f, -3.4e38f}, {0, 0, 0, 1}};
    ButtonState wideButtons{
        {-2147483647 - 1, -2147483647 - 1, -2147483647 - 1, -2147483647 - 1, -2147483647 - 1}};
    char out[replyTextSize];
    EXPECT_GT(formatJsonReply(out, sizeof out, huge, wideButtons), 240);
    EXPECT_EQ(formatPlainReply(out, 72, worked, pressed), -1);
    EXPECT_EQ(formatJsonReply(out, 92, worked, pressed), -1);
    EXPECT_EQ(formatJsonReply(out, 93, worked, pressed), 92);
    MotionOutput wide{{1.0e30f, 0, 0}, {0, 0, 0, 1}};
    int n = formatJsonReply(out, sizeof out, wide, pressed);
    EXPECT_GT(n, 92); // fits the buffer: the caller decides what the frame can carry
    EXPECT_EQ(n, static_cast<int>(std::string(out).size()));
}

TEST(ReplyText, JsonRefusesValuesItCannotWrite) {
    // Summed accelerations can overflow to infinity (or to not-a-number when
    // both signs do); the plain text shows them as the C library prints them.
    const float inf = INFINITY;
    MotionOutput overflowed{{inf, -inf, NAN}, {0, 0, 0, 1}};
    char out[replyTextSize];
    EXPECT_EQ(formatJsonReply(out, sizeof out, overflowed, pressed), -1);
    EXPECT_EQ(formatPlainReply(out, sizeof out, overflowed, pressed), 72);
    EXPECT_EQ(std::string(out, 26), "     inf,    -inf,     nan");
}
