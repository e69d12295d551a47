#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "text/number_text.h"

namespace {

std::string fixed(double v, int precision, int width = 0) {
    char out[512];
    formatFixed(out, sizeof out, v, precision, width);
    return out;
}

std::string glibcFixed(double v, int precision, int width = 0) {
    char out[512];
    std::snprintf(out, sizeof out, "%*.*f", width, precision, v);
    return out;
}

// The formats the system writes: "%f", "%8.3f", "%8.5f", "%.3f".
void expectSameAsGlibc(double v) {
    ASSERT_EQ(fixed(v, 6), glibcFixed(v, 6)) << v;
    ASSERT_EQ(fixed(v, 3, 8), glibcFixed(v, 3, 8)) << v;
    ASSERT_EQ(fixed(v, 5, 8), glibcFixed(v, 5, 8)) << v;
    ASSERT_EQ(fixed(v, 3), glibcFixed(v, 3)) << v;
}

} // namespace

TEST(FormatFixed, MatchesGlibcOnSpecialAndBoundaryValues) {
    const double values[] = {0.0,
                             -0.0,
                             1.0,
                             -1.0,
                             12.5,
                             0.0005,
                             0.0015,
                             0.0025,
                             -0.0005,
                             0.00005,
                             0.000015,
                             999.9995,
                             9999.9995,
                             -999.9995,
                             1e20,
                             -1e20,
                             1e300,
                             5e-324,
                             3.4028234663852886e38,
                             0.1,
                             0.7071067811865476,
                             2.5,
                             0.125,
                             1.0 / 3.0,
                             123456789.123456789};
    for (double v : values)
        expectSameAsGlibc(v);
    EXPECT_EQ(fixed(-0.0, 3, 8), "  -0.000");
    EXPECT_EQ(fixed(12.5, 3, 8), "  12.500");
    EXPECT_EQ(fixed(1.0, 6), "1.000000");
    EXPECT_EQ(fixed(12345.678, 3, 8), "12345.678"); // wider than the field: never cut
}

TEST(FormatFixed, MatchesGlibcOnManyFloatsAndHalfwayCases) {
    std::mt19937 random(20261207);
    std::uniform_real_distribution<float> small(-2.0f, 2.0f);
    std::uniform_real_distribution<float> large(-20000.0f, 20000.0f);
    std::uniform_int_distribution<uint32_t> bits;
    for (int i = 0; i < 100000; ++i) {
        expectSameAsGlibc(small(random));
        expectSameAsGlibc(large(random));
        uint32_t b = bits(random);
        float f;
        std::memcpy(&f, &b, sizeof f);
        if (std::isfinite(f)) expectSameAsGlibc(f);
    }
    // Every third/fifth-decimal halfway point near the sizes the replies carry.
    for (int k = -200000; k <= 200000; ++k) {
        expectSameAsGlibc(k / 1000.0 + 0.0005);
        expectSameAsGlibc(static_cast<float>(k / 100000.0 + 0.000005));
    }
}

TEST(FormatFixed, NonFiniteAndNarrowBuffers) {
    EXPECT_EQ(fixed(INFINITY, 3, 8), glibcFixed(INFINITY, 3, 8));
    EXPECT_EQ(fixed(-INFINITY, 3, 8), glibcFixed(-INFINITY, 3, 8));
    EXPECT_EQ(fixed(NAN, 3, 8), glibcFixed(NAN, 3, 8));
    char small[5];
    EXPECT_EQ(formatFixed(small, sizeof small, 12.5, 3, 8), 8);
    EXPECT_STREQ(small, "  12");
    char tiny[1];
    EXPECT_EQ(formatInteger(tiny, sizeof tiny, -42), 3);
    EXPECT_STREQ(tiny, "");
}

TEST(FormatInteger, MatchesPercentD) {
    const long long values[] = {0, 1, -1, 8096, 70000, 2147483647LL, -2147483648LL};
    for (long long v : values) {
        char mine[64], theirs[64];
        formatInteger(mine, sizeof mine, v, 5);
        std::snprintf(theirs, sizeof theirs, "%5lld", v);
        EXPECT_STREQ(mine, theirs);
    }
}

TEST(ScanNumbers, TakeTheLongestPrefixLikeScanf) {
    int32_t i = 77;
    EXPECT_TRUE(scanInteger("12abc", &i));
    EXPECT_EQ(i, 12);
    EXPECT_TRUE(scanInteger(" \t-3", &i));
    EXPECT_EQ(i, -3);
    EXPECT_TRUE(scanInteger("1.5", &i));
    EXPECT_EQ(i, 1);
    EXPECT_TRUE(scanInteger("+0x10", &i));
    EXPECT_EQ(i, 0);
    EXPECT_TRUE(scanInteger("99999999999", &i));
    EXPECT_EQ(i, 2147483647);
    EXPECT_TRUE(scanInteger("-99999999999", &i));
    EXPECT_EQ(i, -2147483647 - 1);
    i = 77;
    EXPECT_FALSE(scanInteger("abc", &i));
    EXPECT_FALSE(scanInteger("", &i));
    EXPECT_FALSE(scanInteger("- 5", &i));
    EXPECT_EQ(i, 77);

    double d = 9.0;
    EXPECT_TRUE(scanDecimal("  0.05", &d));
    EXPECT_EQ(d, 0.05);
    EXPECT_TRUE(scanDecimal("-1.5e2xyz", &d));
    EXPECT_EQ(d, -150.0);
    EXPECT_TRUE(scanDecimal("1e", &d));
    EXPECT_EQ(d, 1.0);
    EXPECT_TRUE(scanDecimal("5.", &d));
    EXPECT_EQ(d, 5.0);
    EXPECT_TRUE(scanDecimal(".5", &d));
    EXPECT_EQ(d, 0.5);
    EXPECT_TRUE(scanDecimal("0x1p3", &d)); // no hex: the 0 before the x
    EXPECT_EQ(d, 0.0);
    EXPECT_TRUE(scanDecimal("1e400", &d));
    EXPECT_TRUE(std::isinf(d));
    EXPECT_TRUE(scanDecimal("-1e-400", &d));
    EXPECT_EQ(d, 0.0);
    EXPECT_TRUE(std::signbit(d));
    d = 9.0;
    EXPECT_FALSE(scanDecimal("inf", &d));
    EXPECT_FALSE(scanDecimal("nan", &d));
    EXPECT_FALSE(scanDecimal(".", &d));
    EXPECT_FALSE(scanDecimal("abc", &d));
    EXPECT_EQ(d, 9.0);
}

TEST(ScanNumbers, AgreesWithStrtodOnDecimalTexts) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> any(-1e6, 1e6);
    for (int i = 0; i < 20000; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "%.*g", 1 + i % 17, any(random));
        double mine = 0;
        ASSERT_TRUE(scanDecimal(text, &mine));
        EXPECT_EQ(mine, std::strtod(text, nullptr)) << text;
    }
    // Into a float the text is rounded once: just above a halfway point
    // between two floats, a detour through double would land on the lower one.
    std::uniform_int_distribution<uint32_t> bits(0x3C000000u, 0x46000000u);
    for (int i = 0; i < 20000; ++i) {
        float low;
        uint32_t pattern = bits(random);
        std::memcpy(&low, &pattern, sizeof low);
        const double half = (static_cast<double>(low) + std::nextafter(low, 2e9f)) / 2;
        char text[96];
        std::snprintf(text, sizeof text, "%.40g", half);
        std::strcat(text, i % 2 ? "1" : "");
        float mine = 0;
        ASSERT_TRUE(scanFloat(text, &mine));
        EXPECT_EQ(mine, std::strtof(text, nullptr)) << text;
    }
    float distance = 0;
    EXPECT_TRUE(scanFloat("1.000000059604644775390625001", &distance));
    EXPECT_EQ(distance, std::nextafter(1.0f, 2.0f));
}

TEST(NumberText, IgnoresACommaDecimalLocale) {
    const char* names[] = {"de_DE.UTF-8", "de_DE", "German_Germany.1252", "de-DE"};
    for (const char* name : names)
        if (std::setlocale(LC_ALL, name) != nullptr) break;
    EXPECT_EQ(fixed(-1.25, 3, 8), "  -1.250");
    double d = 0;
    EXPECT_TRUE(scanDecimal("2.75", &d));
    EXPECT_EQ(d, 2.75);
    std::setlocale(LC_ALL, "C");
}
