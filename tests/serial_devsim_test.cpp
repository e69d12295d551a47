// The device simulator: its lines, and the program on a pseudo-terminal
// driven through the serial link.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "device/device_line.h"
#include "device/serial_port.h"
#include "settings/settings.h"
#include "tools/devsim/sim_lines.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

// Checksum digits computed here, apart from the parser's own routine.
bool checksumMatches(const char* line) {
    int sum = 0;
    for (int k = 0; k <= 72; ++k)
        sum += static_cast<signed char>(line[k]);
    return line[73] == '0' + sum % 100 / 10 && line[74] == '0' + sum % 10;
}

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

TEST(SimLines, SyntheticMotionIsAUnitTurnWithGravityAndButtons) {
    int pressedSeen[5] = {};
    for (long index = 0; index < 3 * simTurnLines; index += 7) {
        Sample sample{};
        ButtonState buttons{};
        syntheticMotion(index, &sample, &buttons);
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
        int pressed = 0;
        for (int j = 0; j < 5; ++j) {
            pressed += buttons.button[j];
            if (buttons.button[j]) ++pressedSeen[j];
        }
        EXPECT_LE(pressed, 1);

        char line[simLineSize];
        ASSERT_TRUE(formatSimLine(sample, buttons, line)) << index;
        EXPECT_TRUE(checksumMatches(line)) << line;
        Sample parsed{};
        ButtonState parsedButtons{};
        ASSERT_TRUE(parseDeviceLine(line, &parsed, &parsedButtons)) << line;
        EXPECT_NEAR(parsed.value[6], v[6], 1e-5);
        EXPECT_EQ(std::memcmp(&parsedButtons, &buttons, sizeof buttons), 0);
    }
    for (int j = 0; j < 5; ++j)
        EXPECT_GT(pressedSeen[j], 0) << "button " << j;
}

// One simulator process; its first output line names the terminal.
struct Devsim {
    pid_t pid = -1;
    int out = -1;
    std::string path;
    std::string pending;

    bool start(std::vector<std::string> args) {
        args.insert(args.begin(), TOLVANE_BINARY_DIR "/tools/tolvane-devsim");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int pipeEnds[2];
        if (pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
        int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeEnds[1]);
        out = pipeEnds[0];
        if (rc != 0) {
            pid = -1;
            return false;
        }
        path = nextLine();
        return !path.empty();
    }
    // The next output line, or "" after 5 s.
    std::string nextLine() {
        auto until = std::chrono::steady_clock::now() + 5s;
        for (;;) {
            size_t end = pending.find('\n');
            if (end != std::string::npos) {
                std::string lineText = pending.substr(0, end);
                pending.erase(0, end + 1);
                return lineText;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            pollfd p{out, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
            char buffer[256];
            ssize_t n = read(out, buffer, sizeof buffer);
            if (n <= 0) return "";
            pending.append(buffer, static_cast<size_t>(n));
        }
    }
    // Ends the process; true if it ended cleanly on the signal.
    bool stop() {
        if (pid < 0) return false;
        kill(pid, SIGTERM);
        int status = 0;
        for (int k = 0; k < 500; ++k) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) && WEXITSTATUS(status) == 0;
            }
            std::this_thread::sleep_for(10ms);
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        pid = -1;
        return false;
    }
    ~Devsim() {
        stop();
        if (out >= 0) close(out);
    }
};

// Polls the simulator through the link and checks every answer.
class DevsimTest : public ::testing::Test {
  protected:
    Devsim sim;
    char line[deviceLineBufferSize] = {};
    Sample sample{};
    ButtonState buttons{};

    void SetUp() override { stopRequested = false; }
    void TearDown() override { closeSerialPort(); }

    void startAndOpen(std::vector<std::string> args) {
        ASSERT_TRUE(sim.start(std::move(args)));
        setComPort(sim.path.c_str());
        ASSERT_TRUE(openSerialPort()) << sim.path;
    }
    bool pollLine() { return writePollByte() && readDeviceLine(line); }
    bool accepted() { return checksumMatches(line) && parseDeviceLine(line, &sample, &buttons); }
};

TEST_F(DevsimTest, AnswersEachPollWithAGoodLine) {
    startAndOpen({});
    EXPECT_EQ(sim.path.rfind("/dev/", 0), 0u);
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
    EXPECT_TRUE(sim.stop());
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

TEST_F(DevsimTest, SilenceAndDelay) {
    startAndOpen({"--silence-after", "2"});
    EXPECT_TRUE(pollLine());
    EXPECT_TRUE(pollLine());
    EXPECT_FALSE(pollLine());
    EXPECT_FALSE(pollLine());
    closeSerialPort();
    ASSERT_TRUE(sim.stop());

    Devsim late;
    ASSERT_TRUE(late.start({"--delay", "1500"}));
    setComPort(late.path.c_str());
    ASSERT_TRUE(openSerialPort());
    EXPECT_FALSE(pollLine()) << "the answer comes far later than the read waits";
    // The late answer arrives in the end and is read as a whole line.
    bool arrived = false;
    for (int k = 0; k < 50 && !arrived; ++k)
        arrived = readDeviceLine(line);
    EXPECT_TRUE(arrived);
    EXPECT_TRUE(accepted());
}

TEST_F(DevsimTest, HangUpAndComeBackUnderTheSameLink) {
    char dir[] = "/tmp/tolvane-devsim-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string link = std::string(dir) + "/port";
    std::string logPath = std::string(dir) + "/sent.log";
    startAndOpen({"--link", link, "--hangup-after", "2", "--back-after", "100", "--log", logPath});
    setComPort(link.c_str());
    ASSERT_TRUE(openSerialPort()) << "the link leads to the terminal";
    EXPECT_TRUE(pollLine());
    EXPECT_TRUE(pollLine());
    EXPECT_FALSE(pollLine()) << "the terminal went away";
    closeSerialPort();

    std::string second = sim.nextLine();
    ASSERT_FALSE(second.empty()) << "a new terminal is announced";
    ASSERT_TRUE(openSerialPort()) << "the link now leads to " << second;
    EXPECT_TRUE(pollLine());
    EXPECT_TRUE(accepted());
    closeSerialPort();
    EXPECT_TRUE(sim.stop());

    struct stat info {};
    EXPECT_NE(lstat(link.c_str(), &info), 0) << "the link is removed at exit";
    FILE* logFile = std::fopen(logPath.c_str(), "r");
    ASSERT_NE(logFile, nullptr);
    char text[256];
    int lines = 0, events = 0;
    while (std::fgets(text, sizeof text, logFile)) {
        if (text[0] == '#') {
            ++events;
        } else {
            ++lines;
            EXPECT_EQ(std::strlen(text), 76u) << "75 bytes and a newline: " << text;
        }
    }
    std::fclose(logFile);
    EXPECT_EQ(lines, 3);
    EXPECT_GE(events, 2);
    unlink(logPath.c_str());
    rmdir(dir);
}

TEST_F(DevsimTest, ReplaysACapturedFileInOrder) {
    char file[] = "/tmp/tolvane-replay-XXXXXX";
    int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    std::string capture = "# captured\n";
    std::vector<std::string> lines;
    for (int n = 1; n <= 3; ++n) {
        Sample s{{static_cast<float>(n), 0, 1, 0, 0, 0, 1}};
        ButtonState b{};
        char text[simLineSize];
        ASSERT_TRUE(formatSimLine(s, b, text));
        lines.push_back(text);
        capture += std::string(text) + "\n"; // CR LF, as a capture keeps it
    }
    ASSERT_EQ(write(fd, capture.data(), capture.size()), static_cast<ssize_t>(capture.size()));
    close(fd);
    startAndOpen({"--replay", file, "--stream", "100"});
    for (int n = 0; n < 7; ++n) {
        ASSERT_TRUE(readDeviceLine(line)) << n;
        EXPECT_EQ(std::string(line), lines[n % 3]);
    }
    unlink(file);
}

TEST(DevsimCommandLine, HelpAndBadOptions) {
    auto run = [](const char* args) {
        std::string command = TOLVANE_BINARY_DIR "/tools/tolvane-devsim ";
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
    EXPECT_EQ(run("--frobnicate"), 2);
}

} // namespace
