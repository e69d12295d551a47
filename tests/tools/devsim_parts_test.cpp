// The simulator's faults and line source, without a terminal.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/device_lines.h"
#include "tools/devsim/button_presses.h"
#include "tools/devsim/devsim_faults.h"
#include "tools/devsim/line_source.h"

namespace {

// Fates of the next count lines: 's' sent (as the next number), 'h' hang-up,
// '-' silent.
std::string fates(const FaultOptions& faults, int count) {
    FaultState state;
    std::string out;
    long expected = 1;
    for (int k = 0; k < count; ++k) {
        long number = 0;
        switch (nextLineFate(faults, &state, &number)) {
        case LineFate::send:
            out += number == expected++ ? 's' : '?';
            break;
        case LineFate::hangUp:
            out += 'h';
            break;
        case LineFate::silent:
            out += '-';
            break;
        }
    }
    return out;
}

TEST(DevsimFaults, HangUpAndSilenceSchedule) {
    FaultOptions faults;
    EXPECT_EQ(fates(faults, 5), "sssss");
    faults.hangupAfter = 3; // the 3rd line still arrives, the next one due hangs up
    EXPECT_EQ(fates(faults, 10), "ssshssshss");
    faults.hangupAfter = 1;
    EXPECT_EQ(fates(faults, 6), "shshsh");
    faults.silenceAfter = 2; // silence wins over a hang-up that would follow
    EXPECT_EQ(fates(faults, 6), "shs---");
    faults = FaultOptions{};
    faults.silenceAfter = -1;
    EXPECT_EQ(fates(faults, 3), "---");
}

TEST(DevsimFaults, ChecksumCutAndGarbage) {
    FaultOptions faults;
    faults.badChecksumEvery = 3;
    faults.cutEvery = 4;
    faults.cutLength = 0;
    std::string spoiled, cut;
    for (long n = 1; n <= 12; ++n) {
        spoiled += spoilsChecksum(faults, n) ? 'x' : '.';
        cut += std::to_string(sentLength(faults, n, 76)) + ",";
    }
    EXPECT_EQ(spoiled, "..x..x..x..x");
    EXPECT_EQ(cut, "76,76,76,0,76,76,76,0,76,76,76,0,");
    faults.cutLength = 61;
    EXPECT_EQ(sentLength(faults, 4, 40), 40u) << "a short line is not made longer";

    // Noise never holds the sync byte and goes on where it stopped.
    faults.garbageBytes = 5;
    FaultState state;
    char first[garbageBytesMax], second[garbageBytesMax];
    ASSERT_EQ(makeGarbage(faults, &state, first), 5u);
    ASSERT_EQ(makeGarbage(faults, &state, second), 5u);
    const std::string noise = std::string(first, 5) + std::string(second, 5);
    EXPECT_EQ(noise.find('T'), std::string::npos);
    EXPECT_NE(std::string(first, 5), std::string(second, 5));
    faults.garbageBytes = garbageBytesMax;
    EXPECT_EQ(makeGarbage(faults, &state, first), size_t(garbageBytesMax));
    EXPECT_EQ(std::string(first, garbageBytesMax).find('T'), std::string::npos);
}

TEST(DevsimFaults, LogLineDropsOnlyTheFinalCarriageReturn) {
    FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    // A line cut to nothing (--cut N:0): a look at the byte before its start
    // shows under AddressSanitizer.
    auto empty = std::make_unique<char[]>(1);
    logLine(log, empty.get(), 0);
    logLine(log, "T\rx\r", 4);
    logLine(log, "TOL", 3);
    const char withNul[] = {'T', '\0', 'x'};
    logLine(log, withNul, 3);
    std::rewind(log);
    char back[64];
    const size_t n = std::fread(back, 1, sizeof back, log);
    EXPECT_EQ(std::string(back, n), std::string("\nT\rx\nTOL\nT\0x\n", 13));
    std::fclose(log);
}

struct Loaded {
    Replay replay;
    std::string notes;
    bool ok = false;
    ~Loaded() { freeReplay(&replay); }
    std::string line(long k) const {
        return std::string(replay.bytes + replay.lines[k].offset, replay.lines[k].length);
    }
};

void load(const std::string& text, Loaded* out) {
    FILE* f = std::tmpfile();
    FILE* notes = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    out->ok = loadReplay(f, "trace", &out->replay, notes);
    std::rewind(notes);
    char buffer[4096];
    out->notes.assign(buffer, std::fread(buffer, 1, sizeof buffer, notes));
    std::fclose(f);
    std::fclose(notes);
}

TEST(DevsimReplay, PlainLinesAreWholeAndEveryRefusalIsNamed) {
    const std::string good = deviceLine(0, 0, 0, 1, "00000");
    const std::string body = good.substr(0, good.size() - 1); // without its CR
    const std::string nul("T\0after", 7);
    const std::string wide(300, 'x');
    const std::string tooLong(replayLineMax + 1, 'y');
    Loaded l;
    load("# comment\n" + body + "\r\n\n" + nul + "\n" + wide + "\n" + tooLong + "\n" + body, &l);
    ASSERT_TRUE(l.ok) << l.notes;
    EXPECT_FALSE(l.replay.capture);
    ASSERT_EQ(l.replay.count, 4);
    EXPECT_EQ(l.line(0), good);
    EXPECT_EQ(l.line(1), nul + "\r") << "a NUL byte ends neither the line nor the file";
    EXPECT_EQ(l.line(2), wide + "\r") << "a long line is kept whole";
    EXPECT_EQ(l.line(3), good);
    EXPECT_NE(l.notes.find("trace line 6 skipped: longer than 4096 bytes"), std::string::npos)
        << l.notes;

    // Lines come round again; synthetic lines take the faults asked for.
    char out[lineBufferSize];
    size_t length = 0;
    ASSERT_TRUE(makeLine(l.replay, FixedValues{}, 5, 0, false, out, sizeof out, &length));
    EXPECT_EQ(std::string(out, length), good);
    ASSERT_TRUE(makeLine(Replay{}, FixedValues{}, 3, 0, true, out, sizeof out, &length));
    EXPECT_EQ(length, 76u);
    out[length] = '\0';
    EXPECT_FALSE(checksumMatches(out));

    Loaded none;
    load("# only a comment\n\n", &none);
    EXPECT_FALSE(none.ok);
    EXPECT_NE(none.notes.find("holds no device lines"), std::string::npos);
}

TEST(DevsimReplay, CaptureRecordsAreSentAsRecorded) {
    Loaded l;
    load(std::string(captureHeader) + "\n# recorded by a test\n"
                                      "0.000000 TOL,1\\r\n"
                                      "0.250000 half\\x00line\n"
                                      "0.5 bad time\n"
                                      "0.750000 no\\tescape\n"
                                      "1.000000 \\n\n",
         &l);
    ASSERT_TRUE(l.ok) << l.notes;
    EXPECT_TRUE(l.replay.capture);
    ASSERT_EQ(l.replay.count, 3);
    EXPECT_EQ(l.line(0), "TOL,1\r");
    EXPECT_EQ(l.line(1), std::string("half\0line", 9)) << "no carriage return added";
    EXPECT_EQ(l.line(2), "\n");
    EXPECT_EQ(l.replay.lines[1].microseconds, 250000);
    EXPECT_EQ(l.replay.lines[2].microseconds, 1000000);
    EXPECT_NE(l.notes.find("trace line 5 skipped"), std::string::npos) << l.notes;
    EXPECT_NE(l.notes.find("trace line 6 skipped"), std::string::npos) << l.notes;

    // Saved with CR LF; started again twice (the recorder's line, then a
    // joined capture): the later times follow on, for --timed; a time past
    // any clock is refused.
    Loaded again;
    load(std::string(captureHeader) +
             "\r\n"
             "1.000000 a\r\n"
             "2.000000 b\r\n" +
             captureAppendedLine +
             "\r\n"
             "0.500000 c\r\n"
             "9300000000.000000 d\r\n" +
             captureHeader + "\n0.000000 e\n",
         &again);
    ASSERT_TRUE(again.ok) << again.notes;
    EXPECT_TRUE(again.replay.capture);
    ASSERT_EQ(again.replay.count, 4);
    EXPECT_EQ(again.line(0), "a");
    const int64_t times[] = {1000000, 2000000, 2500000, 2500000};
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(again.replay.lines[k].microseconds, times[k]) << k;
    EXPECT_NE(again.notes.find("trace line 6 skipped: the seconds are beyond"), std::string::npos)
        << again.notes;

    // A header that is not the first line makes a plain file.
    Loaded plain;
    load("TOL,x\n" + std::string(captureHeader) + "\n", &plain);
    EXPECT_FALSE(plain.replay.capture);
    EXPECT_EQ(plain.replay.count, 1);
}

TEST(DevsimPresses, ParseGoodAndBadForms) {
    struct Case {
        const char* text;
        const char* wrong; // null: good, then the press below
        ButtonPress press;
    };
    const char* form =
        "not B@T+D[/P] (button B from T s for D s, again every P s), for example 0@2.0+0.3";
    const Case cases[] = {
        {"0@2.0+0.3", nullptr, {0, 2000000, 300000, 0}},
        {"4@0+1/2.5", nullptr, {4, 0, 1000000, 2500000}},
        {"2@1e1+0.000001", nullptr, {2, 10000000, 1, 0}},
        {"5@1+1", "the button is 0 to 4", {}},
        {"0@1+0", "a press lasts longer than 0 s", {}},
        {"0@1+1/1", "it comes again before it is let go (P must be longer than D)", {}},
        {"0@-1+1", form, {}},
        {"0@1", form, {}},
        {"0@1+", form, {}},
        {"0@1+1/", form, {}},
        {"0@1+1x", form, {}},
        {"0@nan+1", form, {}},
        {"0@1000000+1", form, {}}, // beyond ten days
        {"01@1+1", form, {}},
        {"", form, {}},
    };
    auto fields = [](const ButtonPress& p) {
        return std::tuple(p.button, p.at, p.length, p.every);
    };
    for (const Case& c : cases) {
        ButtonPress press{9, 9, 9, 9}; // a refused form leaves it alone
        EXPECT_STREQ(parseButtonPress(c.text, &press), c.wrong) << c.text;
        EXPECT_EQ(fields(press), fields(c.wrong ? ButtonPress{9, 9, 9, 9} : c.press)) << c.text;
    }
}

// Each line carries a press from its first microsecond up to, not including,
// its last; presses of one button overlap, of others add up; and the digits
// of --buttons stay where no press is.
TEST(DevsimPresses, LinesCarryTheButtonForExactlyThatSpan) {
    FixedValues fixed;
    fixed.buttons = true;
    fixed.buttonValue[3] = 7;
    const char* texts[] = {"0@2+0.3", "0@2.2+0.2", "1@1+0.5/2", "3@0+0.1"};
    for (const char* text : texts)
        ASSERT_EQ(parseButtonPress(text, &fixed.presses.press[fixed.presses.count++]), nullptr);
    const struct {
        int64_t microseconds;
        const char* buttons;
    } moments[] = {
        {0, "00010"},       {99999, "00010"},   {100000, "00070"},  {999999, "00070"},
        {1000000, "01070"}, {1499999, "01070"}, {1500000, "00070"}, {1999999, "00070"},
        {2000000, "10070"}, {2299999, "10070"}, {2300000, "10070"}, {2399999, "10070"},
        {2400000, "00070"}, {3000000, "01070"}, {3500000, "00070"}, {2001000000, "01070"},
    };
    for (const auto& m : moments) {
        char line[lineBufferSize];
        size_t length = 0;
        ASSERT_TRUE(
            makeLine(Replay{}, fixed, 1, m.microseconds, false, line, sizeof line, &length));
        Sample sample{};
        ButtonState buttons{};
        line[length] = '\0';
        ASSERT_TRUE(parseDeviceLine(line, &sample, &buttons)) << line;
        std::string digits;
        for (int b : buttons.button)
            digits += static_cast<char>('0' + b);
        EXPECT_EQ(digits, m.buttons) << m.microseconds;
    }
}

} // namespace
