// The capture format: records round-trip every byte, and bad input is
// reported without reading past the line.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "device/capture.h"

namespace {

CaptureLineKind parse(const std::string& text, CaptureRecord* record, const char** reason) {
    // A copy of exactly the line's bytes, so that ASan catches a read past it.
    char* copy = new char[text.size() > 0 ? text.size() : 1];
    std::memcpy(copy, text.data(), text.size());
    CaptureLineKind kind = parseCaptureLine(copy, text.size(), record, reason);
    delete[] copy;
    return kind;
}

TEST(Capture, EveryByteValueRoundTrips) {
    char bytes[256];
    for (int v = 0; v < 255; ++v)
        bytes[v] = static_cast<char>(v + 1); // 0x01..0xff, then 0x00 on its own
    for (size_t length : {size_t{255}, size_t{1}, size_t{0}}) {
        char text[captureRecordTextMax];
        const size_t n = formatCaptureRecord(123456789, bytes, length, text, sizeof text);
        ASSERT_GT(n, 0u);
        ASSERT_EQ(text[n - 1], '\n');
        ASSERT_EQ(std::strchr(text, '\n'), text + n - 1) << "one text line per record";
        CaptureRecord record;
        const char* reason = nullptr;
        ASSERT_EQ(parse(std::string(text, n - 1), &record, &reason), CaptureLineKind::record)
            << reason;
        EXPECT_EQ(record.microseconds, 123456789);
        ASSERT_EQ(record.length, length);
        EXPECT_EQ(std::memcmp(record.bytes, bytes, length), 0);
    }
    const char nul[1] = {'\0'};
    char text[captureRecordTextMax];
    formatCaptureRecord(0, nul, 1, text, sizeof text);
    EXPECT_STREQ(text, "0.000000 \\x00\n");
}

TEST(Capture, ExactTextOfADeviceLine) {
    const char line[] = "TOL,   0.012,\\ \x7f\xe9,23\r";
    char text[captureRecordTextMax];
    EXPECT_EQ(formatCaptureRecord(12000001, line, sizeof line - 1, text, sizeof text), 40u);
    EXPECT_STREQ(text, "12.000001 TOL,   0.012,\\\\ \\x7f\\xe9,23\\r\n");

    // Too small a buffer, a negative or too late time, too many bytes: nothing.
    EXPECT_EQ(formatCaptureRecord(0, line, sizeof line - 1, text, 20), 0u);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(formatCaptureRecord(-1, line, 1, text, sizeof text), 0u);
    EXPECT_EQ(formatCaptureRecord(captureMicrosecondsMax + 1, line, 1, text, sizeof text), 0u);
    char longLine[captureBytesMax + 1] = {};
    EXPECT_EQ(formatCaptureRecord(0, longLine, sizeof longLine, text, sizeof text), 0u);
    // The latest time still reads back.
    const size_t n = formatCaptureRecord(captureMicrosecondsMax, "T", 1, text, sizeof text);
    CaptureRecord record;
    const char* reason = nullptr;
    ASSERT_EQ(parse(std::string(text, n - 1), &record, &reason), CaptureLineKind::record);
    EXPECT_EQ(record.microseconds, captureMicrosecondsMax);
}

TEST(Capture, HeaderCommentsAndMalformedLines) {
    EXPECT_TRUE(isCaptureHeader(captureHeader, sizeof captureHeader - 1));
    EXPECT_FALSE(isCaptureHeader("# tolvane capture 10", 20));
    EXPECT_TRUE(isCaptureHeader("# tolvane capture 1\r", 20)) << "saved with CR LF";
    EXPECT_FALSE(isCaptureHeader("# tolvane capture 1\r\r", 21));
    // A new start of the bridge: its own line, or the header of a joined capture.
    EXPECT_TRUE(isCaptureNewStart(captureAppendedLine, sizeof captureAppendedLine - 1));
    EXPECT_TRUE(isCaptureNewStart("# appended:\r", 12));
    EXPECT_TRUE(isCaptureNewStart(captureHeader, sizeof captureHeader - 1));
    EXPECT_FALSE(isCaptureNewStart("# appended", 10));
    EXPECT_FALSE(isCaptureNewStart("# note", 6));

    CaptureRecord record;
    record.microseconds = 7;
    const char* reason = nullptr;
    EXPECT_EQ(parse("# note", &record, &reason), CaptureLineKind::comment);
    const char* bad[] = {
        "",                       // empty
        "0.000000",               // no blank
        "1.5 TOL",                // too few decimals
        ".000000 TOL",            // no whole seconds
        "-1.000000 TOL",          // sign
        "1234567890123.000000 T", // more whole digits than a record holds
        "9300000000.000000 T",    // past what a 64-bit nanosecond clock holds
        "4000000000.000001 T",    // one microsecond past the latest time
        "0.000000 TOL\\",         // backslash at the end
        "0.000000 T\\x4",         // half an escape
        "0.000000 T\\x4g",        // not hex
        "0.000000 T\\t",          // unknown escape
        "0.000000 TO\rL",         // raw CR inside the line
        "0.000000 TOL\r\r",       // raw CR, then the CR of a CR LF line end
        "0.000000 T\xc3",         // raw high byte
    };
    for (const char* text : bad) {
        EXPECT_EQ(parse(text, &record, &reason), CaptureLineKind::malformed) << text;
        EXPECT_STRNE(reason, "") << text;
    }
    EXPECT_EQ(record.microseconds, 7) << "a malformed line leaves the record alone";

    // A CR LF line end: the record's bytes are the same, its own CR escaped.
    ASSERT_EQ(parse("1.000000 TOL\\r\r", &record, &reason), CaptureLineKind::record) << reason;
    EXPECT_EQ(std::string(record.bytes, record.length), "TOL\r");
    EXPECT_EQ(parse("# note\r", &record, &reason), CaptureLineKind::comment);

    // One byte more than a line buffer holds is refused, the most is kept.
    std::string full = "0.000000 " + std::string(captureBytesMax, 'x');
    EXPECT_EQ(parse(full, &record, &reason), CaptureLineKind::record);
    EXPECT_EQ(parse(full + "x", &record, &reason), CaptureLineKind::malformed);
    EXPECT_EQ(
        parse("0.000000 " + std::string(captureBytesMax - 1, 'x') + "\\x00", &record, &reason),
        CaptureLineKind::record);
    EXPECT_EQ(record.length, captureBytesMax);
}

TEST(Capture, ReadTextLineKeepsNulBytesAndSaysWhatWasCut) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    const char data[] = "ab\0c\n\nxxxxxxxxxx\nlast";
    std::fwrite(data, 1, sizeof data - 1, f);
    std::rewind(f);
    char buffer[8];
    size_t length = 0;
    bool cut = true;
    ASSERT_TRUE(readTextLine(f, buffer, sizeof buffer, &length, &cut));
    EXPECT_EQ(std::string(buffer, length), std::string("ab\0c", 4));
    EXPECT_FALSE(cut);
    ASSERT_TRUE(readTextLine(f, buffer, sizeof buffer, &length, &cut));
    EXPECT_EQ(length, 0u);
    ASSERT_TRUE(readTextLine(f, buffer, sizeof buffer, &length, &cut));
    EXPECT_EQ(std::string(buffer), "xxxxxxx");
    EXPECT_TRUE(cut);
    ASSERT_TRUE(readTextLine(f, buffer, sizeof buffer, &length, &cut));
    EXPECT_EQ(std::string(buffer), "last");
    EXPECT_FALSE(readTextLine(f, buffer, sizeof buffer, &length, &cut));
    std::fclose(f);
}

} // namespace
