// The device simulator: its lines, and the program on a pseudo-terminal
// driven through the serial link.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "device/capture.h"
#include "device/device_line.h"
#include "device/serial_port.h"
#include "settings/settings.h"
#include "settings/stop_request.h"
#include "tests/support/child_process.h"
#include "tests/support/device_lines.h"
#include "tools/devsim/sim_lines.h"

namespace {

TEST(SimLines, FormatIsExactAndParses) {
    Sample sample{{0.012f, -0.034f, 0.998f, 0.70711f, 0.0f, 0.70711f, 0.0f}};
    ButtonState buttons{{1, 0, 0, 0, 0}};
    char line[simLineSize];
    ASSERT_TRUE(formatSimLine(sample, buttons, line));
    EXPECT_STREQ(line,
                 "TOL,   0.012,  -0.034,   0.998, 0.70711, 0.00000, 0.70711, 0.00000,10000,23\r");
    EXPECT_TRUE(checksumMatches(line));

    // A value too wide for its eight characters is refused, not shifted.
    sample.value[0] = 12345.0f;
    EXPECT_FALSE(formatSimLine(sample, buttons, line));
    sample.value[0] = 0.0f;
    buttons.button[2] = 10;
    EXPECT_FALSE(formatSimLine(sample, buttons, line));

    buttons.button[2] = 0;
    ASSERT_TRUE(formatSimLine(sample, buttons, line));
    spoilChecksum(line);
    EXPECT_EQ(std::strlen(line), 76u);
    EXPECT_FALSE(checksumMatches(line));
    Sample out{};
    ButtonState outButtons{};
    EXPECT_FALSE(parseDeviceLine(line, &out, &outButtons));
}

TEST(SimLines, SyntheticMotionIsAUnitTurnWithGravityAndNoButton) {
    for (long index = 0; index < 3 * simTurnLines; index += 7) {
        Sample sample{};
        ButtonState buttons{{1, 1, 1, 1, 1}};
        // Half steps (a poll between two steps) are as good as whole ones.
        syntheticMotion(index + 0.5, &sample, &buttons);
        const float* v = sample.value;
        double norm = v[3] * v[3] + v[4] * v[4] + v[5] * v[5] + v[6] * v[6];
        EXPECT_NEAR(norm, 1.0, 1e-5) << index;
        double g = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
        EXPECT_NEAR(g, 1.0, 1e-5) << index;
        // One axis at a time: x, then y, then z.
        int axis = static_cast<int>(index / simTurnLines);
        for (int other = 0; other < 3; ++other)
            if (other != axis) {
                EXPECT_EQ(v[3 + other], 0.0f) << index;
            }
        for (int j = 0; j < 5; ++j)
            EXPECT_EQ(buttons.button[j], 0) << "nothing is pressed unasked";

        char line[simLineSize];
        ASSERT_TRUE(formatSimLine(sample, buttons, line)) << index;
        EXPECT_TRUE(checksumMatches(line)) << line;
        Sample parsed{};
        ButtonState parsedButtons{};
        ASSERT_TRUE(parseDeviceLine(line, &parsed, &parsedButtons)) << line;
        EXPECT_NEAR(parsed.value[6], v[6], 1e-5);
    }
}

// Polls the simulator through the link and checks every answer.
class DevsimTest : public ::testing::Test {
  protected:
    Child sim;
    std::string path; // the simulator's terminal, its first output line
    char line[deviceLineBufferSize] = {};
    Sample sample{};
    ButtonState buttons{};

    void SetUp() override { stopRequested = false; }
    void TearDown() override { closeSerialPort(); }

    void startAndOpen(std::vector<std::string> args) {
        args.insert(args.begin(), TOLVANE_DEVSIM);
        ASSERT_TRUE(sim.start(args, ".", "/dev/null"));
        ASSERT_TRUE(sim.readLine(&path));
        setComPort(path.c_str());
        ASSERT_TRUE(openSerialPort()) << path;
    }
    bool pollLine() { return writePollByte() && readDeviceLine(line); }
    // A line within about three seconds, for a simulator that waits on
    // purpose (a loaded machine can stretch its wait past one read's 100 ms).
    bool lineSoon() {
        for (int attempt = 0; attempt < 30; ++attempt)
            if (readDeviceLine(line)) return true;
        return false;
    }
    bool accepted() { return checksumMatches(line) && parseDeviceLine(line, &sample, &buttons); }
};

TEST_F(DevsimTest, AnswersEachPollWithAGoodLine) {
    startAndOpen({});
    EXPECT_EQ(path.rfind("/dev/", 0), 0u);
    EXPECT_FALSE(readDeviceLine(line)) << "no line without a poll";
    for (int n = 0; n < 20; ++n) {
        ASSERT_TRUE(pollLine()) << n;
        EXPECT_TRUE(accepted()) << line;
        EXPECT_EQ(line[75], '\r');
    }
    // The port can be closed and opened again while the simulator runs.
    closeSerialPort();
    ASSERT_TRUE(openSerialPort());
    ASSERT_TRUE(pollLine());
    EXPECT_TRUE(accepted());
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.waitExit(), 0);
}

TEST_F(DevsimTest, FixedValuesAndStreaming) {
    startAndOpen({"--quat", "0.5,-0.5,0.5,-0.5", "--accel", "0,-1.5,9.81", "--buttons", "10201",
                  "--stream", "200"});
    for (int n = 0; n < 20; ++n) {
        ASSERT_TRUE(readDeviceLine(line)) << "streamed without polls, line " << n;
        ASSERT_TRUE(accepted()) << line;
        const float expected[7] = {0.0f, -1.5f, 9.81f, 0.5f, -0.5f, 0.5f, -0.5f};
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(sample.value[i], expected[i]);
        EXPECT_EQ(buttons.button[2], 2);
        EXPECT_EQ(buttons.button[4], 1);
    }
}

// Streamed line N is due (N-1)/HZ s after the first: at 100 a second a
// press of 0.03 s from 0.05 s is on lines 6, 7 and 8 exactly, and one of
// 0.01 s from 0.02 s that comes again every 0.1 s on lines 3 and 13.
TEST_F(DevsimTest, StreamedLinesCarryEachPressForItsSpan) {
    startAndOpen({"--stream", "100", "--press", "1@0.05+0.03", "--press", "4@0.02+0.01/0.1"});
    std::string seen;
    for (int n = 1; n <= 14; ++n) {
        ASSERT_TRUE(lineSoon()) << n;
        ASSERT_TRUE(accepted()) << line;
        seen += buttons.button[1] ? '1' : buttons.button[4] ? '4' : '.';
    }
    EXPECT_EQ(seen, "..4..111....4.") << "line 1 is the first character";
}

// Answers to polls follow the clock: however fast the polls, the device
// turns 60 degrees a second (not 0.6 degrees a poll).
TEST_F(DevsimTest, PolledMotionGoesByTimeNotByPolls) {
    startAndOpen({"--press", "2@0+1000"});
    const auto started = std::chrono::steady_clock::now();
    for (int n = 0; n < 50; ++n) {
        ASSERT_TRUE(pollLine()) << n;
        ASSERT_TRUE(accepted()) << line;
        EXPECT_EQ(buttons.button[2], 1) << "held from the first line";
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // The turn about x since the first line, from x = sin(angle / 2), within
    // the time the polls took; 50 polls counted as steps would be 30 degrees.
    const double turned = 2.0 * std::asin(sample.value[3]) * 180.0 / 3.14159265358979;
    EXPECT_LE(turned, 60.0 * seconds + 0.01) << "after " << seconds << " s";
}

TEST_F(DevsimTest, ChecksumGarbageAndCutFaults) {
    startAndOpen({"--bad-checksum", "3", "--garbage", "5", "--cut", "4:61"});
    for (int n = 1; n <= 12; ++n) {
        bool complete = pollLine();
        if (n % 4 == 0) {
            EXPECT_FALSE(complete) << n;
            EXPECT_EQ(std::strlen(line), 61u) << n;
            continue;
        }
        ASSERT_TRUE(complete) << n;
        EXPECT_EQ(accepted(), n % 3 != 0) << n << ": " << line;
    }
}

TEST_F(DevsimTest, LinesCutToNothingAreLogged) {
    const std::string log = scratchFolder("devsim-cut") + "/device.log";
    startAndOpen({"--cut", "2:0", "--log", log});
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(pollLine(), n % 2 == 1) << n;
    sim.signal(SIGTERM);
    ASSERT_EQ(sim.waitExit(), 0) << sim.errors();
    const std::string logged = readFile(log);
    ASSERT_EQ(logged.size(), 2 * 76u + 2); // two lines without their CR, two empty
    EXPECT_EQ(logged.substr(75, 2), "\n\n") << "a cut line of no bytes is an empty log line";
}

// A capture of a good line and, 40 ms later, one with a wrong checksum.
struct TwoRecordCapture {
    std::string good = deviceLine(0, 0, 0.6f, 0.8f, "01000");
    std::string bad = withWrongChecksum(deviceLine(0.6f, 0, 0, 0.8f, "00100"));
    std::string file = scratchFolder("devsim-capture") + "/trace.cap";

    TwoRecordCapture() {
        char record[captureRecordTextMax];
        std::string capture = std::string(captureHeader) + "\n";
        capture.append(record,
                       formatCaptureRecord(0, good.data(), good.size(), record, sizeof record));
        capture.append(record,
                       formatCaptureRecord(40000, bad.data(), bad.size(), record, sizeof record));
        writeFile(file, capture);
    }
};

// A capture is replayed byte for byte; timed, it plays once.
TEST_F(DevsimTest, TimedCaptureStreamsOnce) {
    TwoRecordCapture capture;
    startAndOpen({"--replay", capture.file, "--stream", "1000", "--timed"});
    for (const std::string& expected : {capture.good, capture.bad}) {
        ASSERT_TRUE(lineSoon());
        EXPECT_EQ(std::string(line), expected);
    }
    EXPECT_FALSE(readDeviceLine(line)) << "a timed capture is sent once";
    EXPECT_EQ(line[0], '\0');
}

TEST_F(DevsimTest, CaptureAnswersPolls) {
    TwoRecordCapture capture;
    startAndOpen({"--replay", capture.file, "--timed"});
    for (const std::string& expected : {capture.good, capture.bad}) {
        ASSERT_TRUE(writePollByte() && lineSoon());
        EXPECT_EQ(std::string(line), expected);
    }
    EXPECT_FALSE(pollLine()) << "no answer after the last record";
}

TEST_F(DevsimTest, UntimedCaptureComesRound) {
    TwoRecordCapture capture;
    startAndOpen({"--replay", capture.file});
    for (const std::string& expected : {capture.good, capture.bad, capture.good}) {
        ASSERT_TRUE(pollLine());
        EXPECT_EQ(std::string(line), expected);
    }
}

// Opens the port in a child process and reports whether that worked; as
// root, the child first becomes a normal user (nobody), who gets no exemption
// from a terminal's exclusive mode.
bool opensAsNormalUser() {
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        _exit(openSerialPort() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(DevsimTest, KilledBridgeLeavesThePortFreeForTheNext) {
    ASSERT_TRUE(sim.start({TOLVANE_DEVSIM}, ".", "/dev/null"));
    ASSERT_TRUE(sim.readLine(&path));
    setComPort(path.c_str());
    if (geteuid() == 0) {
        ASSERT_EQ(chmod(path.c_str(), 0666), 0); // for nobody
    }

    int opened[2];
    ASSERT_EQ(pipe(opened), 0);
    const pid_t bridge = fork();
    if (bridge == 0) {
        const char done = openSerialPort() ? '1' : '0';
        (void)!write(opened[1], &done, 1);
        pause();
        _exit(0);
    }
    struct Reaper {
        pid_t pid;
        explicit Reaper(pid_t child) : pid(child) {}
        ~Reaper() {
            kill(pid, SIGKILL); // the bridge dies without closing the port
            waitpid(pid, nullptr, 0);
        }
    };
    std::optional<Reaper> reaper(std::in_place, bridge);
    close(opened[1]);
    char done = 0;
    ASSERT_EQ(read(opened[0], &done, 1), 1);
    close(opened[0]);
    ASSERT_EQ(done, '1');
    EXPECT_FALSE(opensAsNormalUser()) << "the port is in use";

    reaper.reset();
    EXPECT_TRUE(opensAsNormalUser()) << "a killed bridge must not keep the port";
}

TEST(DevsimCommandLine, HelpAndBadOptions) {
    auto run = [](const char* args) {
        std::string command = TOLVANE_DEVSIM " ";
        command += args;
        command += " >/dev/null 2>&1";
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run("--help"), 0);
    EXPECT_EQ(run("--stream 0"), 2);
    EXPECT_EQ(run("--quat 1,2,3"), 2);
    EXPECT_EQ(run("--buttons 1x000"), 2);
    EXPECT_EQ(run("--cut 3:80"), 2);
    EXPECT_EQ(run("--replay /nonexistent/file"), 2);
    EXPECT_EQ(run("--timed"), 2);
    EXPECT_EQ(run("--press 5@1+1"), 2);
    EXPECT_EQ(run("--press 0@1+1 --replay /dev/null"), 2) << "presses need synthetic lines";
    const std::string plain = scratchFolder("devsim-plain") + "/lines";
    writeFile(plain, "TOL\n");
    EXPECT_EQ(run(("--timed --replay " + plain).c_str()), 2) << "--timed needs a capture";
    EXPECT_EQ(run("--frobnicate"), 2);
}

} // namespace
