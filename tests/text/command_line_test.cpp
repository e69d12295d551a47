// The parts of the command-line convention that every program relies on for
// its range checks.
#include <gtest/gtest.h>

#include <cstdint>

#include "text/command_line.h"

TEST(CommandLine, WholeNumbersAreStrictAndRangeChecked) {
    int64_t v = 0;
    EXPECT_TRUE(parseWholeNumber("255", 1, 255, &v));
    EXPECT_EQ(v, 255);
    EXPECT_TRUE(parseWholeNumber("-9223372036854775808", INT64_MIN, 0, &v));
    EXPECT_EQ(v, INT64_MIN);
    for (const char* bad : {"", "-", "+", "256", "0", "12abc", " 12", "12 ", "1e3", "0x10",
                            "9223372036854775808", "99999999999999999999"})
        EXPECT_FALSE(parseWholeNumber(bad, 1, 255, &v)) << bad;
}

TEST(CommandLine, PortsAndHostPorts) {
    uint16_t port = 0;
    EXPECT_TRUE(parsePortNumber("65535", &port));
    EXPECT_EQ(port, 65535);
    EXPECT_FALSE(parsePortNumber("0", &port));
    EXPECT_FALSE(parsePortNumber("65536", &port));
    EXPECT_FALSE(parsePortNumber("abc", &port));

    char host[16];
    EXPECT_TRUE(parseHostPort("127.0.0.1:8096", host, sizeof host, &port));
    EXPECT_STREQ(host, "127.0.0.1");
    EXPECT_EQ(port, 8096);
    EXPECT_TRUE(parseHostPort("[::1]:1883", host, sizeof host, &port));
    EXPECT_STREQ(host, "::1");
    EXPECT_EQ(port, 1883);
    for (const char* bad : {"host", ":8096", "host:", "host:0", "host:x", "a-very-long-hostname:1"})
        EXPECT_FALSE(parseHostPort(bad, host, sizeof host, &port)) << bad;
}

TEST(CommandLine, DecimalNumbersAreWholeTextsInRange) {
    double v = 0.0;
    EXPECT_TRUE(parseDecimalNumber("0.5", 0.1, 10.0, &v));
    EXPECT_EQ(v, 0.5);
    EXPECT_TRUE(parseDecimalNumber("-.25e1", -10.0, 0.0, &v));
    EXPECT_EQ(v, -2.5);
    EXPECT_TRUE(parseDecimalNumber("10", 0.1, 10.0, &v));
    for (const char* bad : {"", ".", "-", "1,5", "1.5x", " 1", "1e", "1e+", "inf", "nan", "0x1",
                            "10.0001", "0.0999", "1e400"})
        EXPECT_FALSE(parseDecimalNumber(bad, 0.1, 10.0, &v)) << bad;
}
