// The serial link against a pseudo-terminal whose other end the test drives.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <sys/wait.h>
#include <thread>

#include "device/device_line.h"
#include "device/serial_port.h"
#include "settings/settings.h"
#include "settings/stop_request.h"
#include "tests/support/device_lines.h"
#include "tests/support/handles.h"
#include "tests/support/pty_device.h"

namespace {

using namespace std::chrono_literals;

// A 76-byte device line whose first value is n, with its checksum computed here.
std::string numberedLine(int n) {
    char head[80];
    std::snprintf(head, sizeof head,
                  "TOL,%8d,   0.000,   1.000, 0.00000, 0.00000, 0.00000, 1.00000,01000,", n);
    return head + checksumDigits(head) + "\r";
}

class SerialPortTest : public ::testing::Test {
  protected:
    TestDevice device;
    char line[deviceLineBufferSize];

    void SetUp() override {
        stopRequested = false;
        ASSERT_TRUE(device.open());
        setComPort(device.path);
        std::memset(line, 'Q', sizeof line);
    }
    void TearDown() override {
        closeSerialPort();
        stopRequested = false;
    }
};

TEST_F(SerialPortTest, NamesThatOpenAndNamesThatDoNot) {
    // Each failure says which port and why, so that no caller works it out.
    setComPort("");
    SystemResult opened = openSerialPort();
    EXPECT_FALSE(opened);
    EXPECT_EQ(opened.error, EINVAL);
    EXPECT_STREQ(opened.reason, "cannot open the serial port: its name, the first line of the "
                                "settings file, is empty");
    EXPECT_FALSE(serialPortIsOpen());

    setComPort("/dev/tolvane-no-such-port");
    EXPECT_FALSE(openSerialPort());
    setComPort("tolvane-no-such-port"); // looked up under /dev/
    opened = openSerialPort();
    EXPECT_EQ(opened.error, ENOENT);
    EXPECT_EQ(std::string(opened.reason), std::string("cannot open the serial port "
                                                      "/dev/tolvane-no-such-port: ") +
                                              std::strerror(ENOENT));

    // A plain file is no port, even though it opens for reading and writing.
    char file[] = "/tmp/tolvane-serial-XXXXXX";
    int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    setComPort(file);
    opened = openSerialPort();
    EXPECT_FALSE(opened);
    EXPECT_EQ(opened.error, ENOTTY);
    EXPECT_FALSE(serialPortIsOpen());
    unlink(file);

    setComPort(device.path);
    opened = openSerialPort();
    EXPECT_TRUE(opened);
    EXPECT_EQ(opened.error, 0);
    EXPECT_STREQ(opened.reason, "");
    EXPECT_TRUE(serialPortIsOpen());
    closeSerialPort();
    EXPECT_FALSE(serialPortIsOpen());
    closeSerialPort(); // a second close does nothing
    EXPECT_TRUE(openSerialPort()) << "the port opens again after a close";
}

TEST_F(SerialPortTest, BareNameIsLookedUpUnderDev) {
    // "pts/N" has a slash; a link in /dev gives a bare name for the same terminal.
    std::string name = "tolvane-test-" + std::to_string(getpid());
    std::string link = "/dev/" + name;
    if (symlink(device.path, link.c_str()) != 0) GTEST_SKIP() << "cannot write to /dev";
    setComPort(name.c_str());
    const bool opened = openSerialPort().ok;
    unlink(link.c_str());
    ASSERT_TRUE(opened);
    ASSERT_TRUE(writePollByte());
    EXPECT_EQ(device.received(), "D");
}

TEST_F(SerialPortTest, PortIsExclusive) {
    ASSERT_TRUE(openSerialPort());
    auto openInChild = [] {
        pid_t child = fork();
        if (child == 0) _exit(openSerialPort() ? 0 : 1);
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    EXPECT_FALSE(openInChild()) << "a second open of a port in use must fail";
    closeSerialPort();
    EXPECT_TRUE(openInChild()) << "the port is free again after the close";

    // Opening again in this process replaces the port without leaking it.
    ASSERT_TRUE(openSerialPort());
    int before = openHandleCount();
    ASSERT_TRUE(openSerialPort());
    EXPECT_EQ(openHandleCount(), before);
}

TEST_F(SerialPortTest, NoPortOpenFailsAtOnce) {
    EXPECT_FALSE(writePollByte());
    EXPECT_FALSE(readDeviceLine(line));
    EXPECT_EQ(line[0], '\0');
    EXPECT_EQ(device.received(0), "");
}

TEST_F(SerialPortTest, PollByteAndLinesPassUnchanged) {
    ASSERT_TRUE(openSerialPort());
    ASSERT_TRUE(writePollByte());
    EXPECT_EQ(device.received(), "D");

    // Bytes before the sync byte are dropped; CR and LF arrive untranslated
    // and nothing is echoed back to the device.
    std::string first = numberedLine(1);
    std::string second = numberedLine(2);
    ASSERT_TRUE(device.send("xyz" + first + "\n" + second));
    ASSERT_TRUE(readDeviceLine(line));
    EXPECT_EQ(std::string(line), first);
    EXPECT_EQ(line[75], '\r');
    EXPECT_EQ(line[76], '\0');
    ASSERT_TRUE(readDeviceLine(line)) << "the LF before the next line is skipped";
    EXPECT_EQ(std::string(line), second);
    Sample sample{};
    ButtonState buttons{};
    EXPECT_TRUE(parseDeviceLine(line, &sample, &buttons));
    EXPECT_EQ(sample.value[0], 2.0f);
    EXPECT_EQ(device.received(0), "");
}

TEST_F(SerialPortTest, ShortOrMissingLinesFail) {
    ASSERT_TRUE(openSerialPort());
    // Silence during the search.
    EXPECT_FALSE(readDeviceLine(line));
    EXPECT_EQ(line[0], '\0');

    // A line cut short after 60 bytes: false, with the 61 bytes kept.
    std::string cut = numberedLine(7).substr(0, 61);
    ASSERT_TRUE(device.send(cut));
    EXPECT_FALSE(readDeviceLine(line));
    EXPECT_EQ(std::string(line), cut);

    // The port stays usable: the next full line is read.
    ASSERT_TRUE(device.send(numberedLine(8)));
    EXPECT_TRUE(readDeviceLine(line));
    EXPECT_EQ(std::string(line), numberedLine(8));
}

TEST_F(SerialPortTest, StopRequestEndsTheSearch) {
    ASSERT_TRUE(openSerialPort());
    // Any byte counts as the sync byte once a stop is asked for.
    std::string rest = numberedLine(3).substr(0, 75);
    ASSERT_TRUE(device.send("a" + rest));
    stopRequested = true;
    EXPECT_TRUE(readDeviceLine(line));
    EXPECT_EQ(line[0], 'T');
    EXPECT_EQ(std::string(line + 1), rest);

    // With a silent device the pending read still ends, with false.
    EXPECT_FALSE(readDeviceLine(line));
}

TEST_F(SerialPortTest, StreamedLinesAreReadInOrder) {
    ASSERT_TRUE(openSerialPort());
    std::string burst;
    for (int n = 1; n <= 40; ++n)
        burst += numberedLine(n) + "\n";
    ASSERT_TRUE(device.send(burst));
    for (int n = 1; n <= 40; ++n) {
        ASSERT_TRUE(readDeviceLine(line)) << "line " << n;
        Sample sample{};
        ButtonState buttons{};
        ASSERT_TRUE(parseDeviceLine(line, &sample, &buttons));
        EXPECT_EQ(sample.value[0], static_cast<float>(n));
    }
}

TEST_F(SerialPortTest, HangUpFailsTransfersUntilClosed) {
    ASSERT_TRUE(openSerialPort());
    device.close();
    EXPECT_FALSE(readDeviceLine(line));
    EXPECT_FALSE(writePollByte());
    EXPECT_TRUE(serialPortIsOpen()) << "failures leave closing to the caller";
    closeSerialPort();
    EXPECT_FALSE(serialPortIsOpen());
}

// The window thread closes the port while the worker is inside a read. The
// worker must come back (with false) and no descriptor may be left behind.
TEST_F(SerialPortTest, CloseFromAnotherThreadReleasesTheReader) {
    const int before = openHandleCount();
    for (int round = 0; round < 200; ++round) {
        ASSERT_TRUE(openSerialPort());
        std::atomic<bool> reading{false};
        auto worker = std::async(std::launch::async, [&] {
            char buffer[deviceLineBufferSize];
            reading = true;
            bool first = readDeviceLine(buffer);
            // The next access finds the port gone.
            bool second = readDeviceLine(buffer) || writePollByte();
            return !first && !second && buffer[0] == '\0';
        });
        // Close at different moments: before, during and after the read begins.
        if (round % 3 != 0) {
            while (!reading)
                std::this_thread::yield();
        }
        if (round % 3 == 2) std::this_thread::sleep_for(std::chrono::microseconds(round * 50));
        closeSerialPort();
        ASSERT_EQ(worker.wait_for(5s), std::future_status::ready)
            << "reader stuck, round " << round;
        EXPECT_TRUE(worker.get()) << "round " << round;
    }
    EXPECT_EQ(openHandleCount(), before);
}

// The same with lines flowing and the worker polling and reading in a loop.
TEST_F(SerialPortTest, CloseWhileLinesFlow) {
    const int before = openHandleCount();
    std::string text = numberedLine(5);
    for (int round = 0; round < 50; ++round) {
        ASSERT_TRUE(openSerialPort());
        std::atomic<int> linesRead{0};
        auto worker = std::async(std::launch::async, [&] {
            char buffer[deviceLineBufferSize];
            while (writePollByte() && readDeviceLine(buffer))
                ++linesRead;
        });
        auto feeder = std::async(std::launch::async, [&] {
            for (int k = 0; k < 200 && worker.wait_for(0s) != std::future_status::ready; ++k) {
                if (!device.received(20).empty()) (void)device.send(text);
            }
        });
        auto until = std::chrono::steady_clock::now() + 5s;
        while (linesRead < 3 && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        closeSerialPort();
        ASSERT_EQ(worker.wait_for(5s), std::future_status::ready) << "round " << round;
        ASSERT_EQ(feeder.wait_for(10s), std::future_status::ready);
        EXPECT_GE(linesRead.load(), 3);
        (void)device.received(0);
    }
    EXPECT_EQ(openHandleCount(), before);
}

} // namespace
