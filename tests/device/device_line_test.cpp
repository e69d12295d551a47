#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "device/device_line.h"
#include "tests/support/device_lines.h"

namespace {

const std::string exampleBody =
    "TOL,   0.012,  -0.034,   0.998, 0.70711, 0.00000, 0.70711, 0.00000,10000,";

// Pads the number fields with leading blanks to the device's 73 bytes (so the
// checksum digits lie outside the sum), then sums the way the device does.
std::string withChecksum(std::string body, const std::string& tail = "\r") {
    for (int turn = 0; body.size() < 73; ++turn) {
        size_t at = 0;
        for (int comma = 0; comma <= turn % 7 && at != std::string::npos; ++comma)
            at = body.find(',', at == 0 ? 0 : at + 1);
        if (at == std::string::npos) break;
        body.insert(at + 1, 1, ' ');
    }
    return body + checksumDigits(body) + tail;
}

struct Parsed {
    bool accepted;
    Sample sample;
    ButtonState buttons;
};

Parsed parse(const std::string& line) {
    Parsed p{};
    for (float& v : p.sample.value)
        v = 42.0f;
    for (int32_t& b : p.buttons.button)
        b = 42;
    p.accepted = parseDeviceLine(line.c_str(), &p.sample, &p.buttons);
    return p;
}

bool untouched(const Parsed& p) {
    for (float v : p.sample.value)
        if (v != 42.0f) return false;
    for (int32_t b : p.buttons.button)
        if (b != 42) return false;
    return true;
}

} // namespace

TEST(DeviceLine, WorkedExampleIsAccepted) {
    const std::string line = exampleBody + "23\r";
    ASSERT_EQ(line.size(), 76u);
    int sum = 0;
    for (int k = 0; k <= 72; ++k)
        sum += line[k];
    EXPECT_EQ(sum, 3423);
    EXPECT_EQ(deviceLineChecksum(line.c_str()), 23);

    Parsed p = parse(line);
    ASSERT_TRUE(p.accepted);
    const float expected[7] = {0.012f, -0.034f, 0.998f, 0.70711f, 0.0f, 0.70711f, 0.0f};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(p.sample.value[i], expected[i]) << i;
    const int32_t buttons[5] = {1, 0, 0, 0, 0};
    for (int j = 0; j < 5; ++j)
        EXPECT_EQ(p.buttons.button[j], buttons[j]);
}

TEST(DeviceLine, ChecksumDigitsMustMatchInOrder) {
    EXPECT_FALSE(parse(exampleBody + "24\r").accepted);
    EXPECT_FALSE(parse(exampleBody + "32\r").accepted);
    EXPECT_FALSE(parse(exampleBody + "2\r").accepted);
    EXPECT_TRUE(parse(exampleBody + "23x").accepted); // characters after the two digits ignored
    EXPECT_TRUE(parse(exampleBody + "23").accepted);
    // Byte 73 is outside the sum: changing the digits never changes the sum.
    std::string line = exampleBody + "23\r";
    line[72] = ';'; // the comma at 72 is summed: now 9 commas are 8
    EXPECT_FALSE(parse(line).accepted);
}

TEST(DeviceLine, StructuralRejections) {
    EXPECT_FALSE(parse("").accepted);
    EXPECT_FALSE(parse("\r" + exampleBody + "23").accepted);
    EXPECT_FALSE(parse(withChecksum("TOLX,1,2,3,4,5,6,7,00000,")).accepted);
    EXPECT_FALSE(parse(withChecksum("TO,1,2,3,4,5,6,7,00000,")).accepted);
    EXPECT_FALSE(parse(withChecksum("TOL,1,2,3,4,5,6,00000,")).accepted);     // 8 commas
    EXPECT_FALSE(parse(withChecksum("TOL,1,2,3,4,5,6,7,8,00000,")).accepted); // 10 commas
    EXPECT_FALSE(parse(withChecksum("TOL,1,2,3,4,5,6,7,00000,", ",")).accepted);
    Parsed rejected = parse(exampleBody + "24\r");
    EXPECT_TRUE(untouched(rejected));
}

TEST(DeviceLine, LineEndsEarlyAtCrLfOrNul) {
    // Summed only up to the end: the same body with an LF instead of CR, and
    // a short line whose checksum covers only its own bytes.
    EXPECT_TRUE(parse(exampleBody + "23\n").accepted);
    EXPECT_EQ(deviceLineChecksum("TOL,1\r,2,3"), ('T' + 'O' + 'L' + ',' + '1') % 100);
    EXPECT_EQ(deviceLineChecksum("TO"), ('T' + 'O') % 100);
    Parsed p = parse(withChecksum("TOL,1,2,3,4,5,6,7,11111,"));
    ASSERT_TRUE(p.accepted);
    EXPECT_EQ(p.sample.value[6], 7.0f);
    std::string cut = exampleBody + "23\r";
    cut[40] = '\n';
    EXPECT_FALSE(parse(cut).accepted);
}

TEST(DeviceLine, FieldsConvertLeniently) {
    Parsed p = parse(withChecksum("TOL,, zz,1e2,-.5,+3,7abc,  -0,10201,"));
    ASSERT_TRUE(p.accepted);
    EXPECT_EQ(p.sample.value[0], 0.0f);
    EXPECT_EQ(p.sample.value[1], 0.0f);
    EXPECT_EQ(p.sample.value[2], 100.0f);
    EXPECT_EQ(p.sample.value[3], -0.5f);
    EXPECT_EQ(p.sample.value[4], 3.0f);
    EXPECT_EQ(p.sample.value[5], 7.0f);
    EXPECT_TRUE(std::signbit(p.sample.value[6]));
    const int32_t buttons[5] = {1, 0, 2, 0, 1};
    for (int j = 0; j < 5; ++j)
        EXPECT_EQ(p.buttons.button[j], buttons[j]);

    Parsed six = parse(withChecksum("TOL,1,2,3,4,5,6,7,111111,"));
    ASSERT_TRUE(six.accepted);
    for (int j = 0; j < 5; ++j)
        EXPECT_EQ(six.buttons.button[j], 1);
}

TEST(DeviceLine, ChoicesWhereTheFormatIsSilent) {
    // Too few buttons, an over-long field, or a number beyond single precision.
    EXPECT_FALSE(parse(withChecksum("TOL,1,2,3,4,5,6,7,1111,")).accepted);
    EXPECT_FALSE(
        parse(withChecksum("TOL,1,2,3,4,5,6," + std::string(32, '7') + ",11111,")).accepted);
    EXPECT_TRUE(parse(withChecksum("TOL," + std::string(31, '7') +
                                   ",     1,     2,     3,     4,     5,     6,11111,"))
                    .accepted);
    EXPECT_FALSE(parse(withChecksum("TOL,1e39,2,3,4,5,6,7,11111,")).accepted);
    EXPECT_FALSE(parse(withChecksum("TOL,1,2,3,4,5,6,-1e39,11111,")).accepted);
    EXPECT_TRUE(parse(withChecksum("TOL,3.4e38,2,3,4,5,6,7,11111,")).accepted);
}

TEST(DeviceLine, HighBytesCountAsNegative) {
    std::string body = "TOL,1,2,3,4,5,6,7,11111,";
    body[4] = static_cast<char>(0xC3); // field 1 then converts to 0
    body[6] = static_cast<char>(0xFF);
    Parsed p = parse(withChecksum(body));
    EXPECT_TRUE(p.accepted);
}
