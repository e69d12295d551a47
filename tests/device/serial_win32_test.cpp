// The Windows serial link, run under wine against device simulators that the
// runner script (serial_wine_test.sh) has registered as COM ports. Each
// simulator's port name comes in an environment variable; tests whose
// simulator is missing are skipped.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "device/device_line.h"
#include "device/serial_port.h"
#include "settings/settings.h"
#include "settings/stop_request.h"
#include "tests/support/device_lines.h"
#include "tools/devsim/sim_lines.h"

namespace {

using namespace std::chrono_literals;

bool underWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class WindowsSerialTest : public ::testing::Test {
  protected:
    char line[deviceLineBufferSize];
    Sample sample{};
    ButtonState buttons{};

    void SetUp() override {
        stopRequested = false;
        std::memset(line, 'Q', sizeof line);
    }
    void TearDown() override {
        closeSerialPort();
        stopRequested = false;
    }
    // Opens the simulator named by the variable, or tells why not.
    bool openSimulator(const char* variable) {
        const char* name = std::getenv(variable);
        if (name == nullptr || *name == '\0') return false;
        setComPort(name);
        return openSerialPort().ok;
    }
};

#define OPEN_OR_SKIP(variable)                                                                     \
    if (std::getenv(variable) == nullptr) GTEST_SKIP() << variable " is not set";                  \
    ASSERT_TRUE(openSimulator(variable))

TEST_F(WindowsSerialTest, NoPortMeansFailure) {
    setComPort("");
    EXPECT_FALSE(openSerialPort()) << "the bare device prefix is no port";
    EXPECT_FALSE(serialPortIsOpen());
    setComPort("COM231");
    EXPECT_FALSE(openSerialPort());
    EXPECT_FALSE(writePollByte());
    EXPECT_FALSE(readDeviceLine(line));
    EXPECT_EQ(line[0], '\0');
    closeSerialPort();
}

// Wine has no USB serial devices, so the SetupAPI lookup can only find none;
// a port named in comDevice opens as it does in comPort.
TEST_F(WindowsSerialTest, ComDeviceThatMatchesNothingFailsAndSaysSo) {
    setComPort("COM231");
    setComDevice("usb:0403:6001:A12345");
    const SystemResult opened = openSerialPort();
    EXPECT_FALSE(opened.ok);
    EXPECT_EQ(opened.error, ERROR_DEV_NOT_EXIST);
    EXPECT_NE(std::strstr(opened.reason, "comDevice=usb:0403:6001:A12345: no such USB device"),
              nullptr)
        << opened.reason;
    EXPECT_FALSE(serialPortIsOpen());
    const char* simulator = std::getenv("TOLVANE_COM_POLLED");
    if (simulator != nullptr) {
        setComDevice(simulator);
        EXPECT_TRUE(openSerialPort().ok) << simulator;
    }
    closeSerialPort();
    setComDevice("");
}

TEST_F(WindowsSerialTest, PolledLinesWithNoiseAndFaults) {
    // The simulator: --garbage 3 --bad-checksum 3 --cut 4:61.
    OPEN_OR_SKIP("TOLVANE_COM_POLLED");
    for (int n = 1; n <= 8; ++n) {
        ASSERT_TRUE(writePollByte()) << n;
        bool complete = readDeviceLine(line);
        if (n % 4 == 0) {
            EXPECT_FALSE(complete) << n;
            EXPECT_EQ(std::strlen(line), 61u) << n;
            EXPECT_EQ(line[0], 'T');
            continue;
        }
        ASSERT_TRUE(complete) << n;
        EXPECT_EQ(std::strlen(line), 76u);
        EXPECT_EQ(line[75], '\r') << "no line-end translation";
        EXPECT_EQ(checksumMatches(line), n % 3 != 0) << line;
        EXPECT_EQ(parseDeviceLine(line, &sample, &buttons), n % 3 != 0) << line;
    }
    // Reopening works, and the port is not shared meanwhile.
    closeSerialPort();
    ASSERT_TRUE(openSimulator("TOLVANE_COM_POLLED"));
    std::string path = std::string("\\\\.\\") + std::getenv("TOLVANE_COM_POLLED");
    HANDLE second = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    // Wine does not refuse a second open of a device (its sharing checks are
    // for files); a Windows serial driver does.
    if (!underWine()) {
        EXPECT_EQ(second, INVALID_HANDLE_VALUE) << "a second open of a port in use must fail";
    }
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    ASSERT_TRUE(writePollByte());
    EXPECT_TRUE(readDeviceLine(line));
}

TEST_F(WindowsSerialTest, SilentDeviceAndStop) {
    OPEN_OR_SKIP("TOLVANE_COM_SILENT");
    EXPECT_TRUE(writePollByte());
    EXPECT_FALSE(readDeviceLine(line));
    EXPECT_EQ(line[0], '\0');
    stopRequested = true;
    EXPECT_FALSE(readDeviceLine(line)) << "a stop does not invent bytes";
}

// The window thread closes the port while the worker waits in a read.
TEST_F(WindowsSerialTest, CloseFromAnotherThreadReleasesTheReader) {
    if (std::getenv("TOLVANE_COM_SILENT") == nullptr) GTEST_SKIP();
    for (int round = 0; round < 40; ++round) {
        ASSERT_TRUE(openSimulator("TOLVANE_COM_SILENT")) << round;
        std::atomic<bool> reading{false};
        auto worker = std::async(std::launch::async, [&] {
            char buffer[deviceLineBufferSize];
            reading = true;
            bool first = readDeviceLine(buffer);
            bool second = readDeviceLine(buffer) || writePollByte();
            return !first && !second;
        });
        // Close before, as and well after the read begins.
        if (round % 3 != 0) {
            while (!reading)
                std::this_thread::yield();
        }
        if (round % 3 == 2) std::this_thread::sleep_for(30ms);
        closeSerialPort();
        ASSERT_EQ(worker.wait_for(10s), std::future_status::ready) << "round " << round;
        EXPECT_TRUE(worker.get()) << round;
    }
}

TEST_F(WindowsSerialTest, StreamedLinesComeInOrder) {
    // The simulator streams its synthetic motion: line k is known here too.
    OPEN_OR_SKIP("TOLVANE_COM_STREAM");
    ASSERT_TRUE(readDeviceLine(line));
    long index = -1;
    for (long k = 0; k < 2000 && index < 0; ++k) {
        Sample s{};
        ButtonState b{};
        syntheticMotion(k, &s, &b);
        char expected[simLineSize];
        ASSERT_TRUE(formatSimLine(s, b, expected));
        if (std::strcmp(expected, line) == 0) index = k;
    }
    ASSERT_GE(index, 0) << "not a line of the synthetic motion: " << line;
    for (int n = 0; n < 100; ++n) {
        ASSERT_TRUE(readDeviceLine(line)) << n;
        ++index;
        Sample s{};
        ButtonState b{};
        syntheticMotion(index, &s, &b);
        char expected[simLineSize];
        ASSERT_TRUE(formatSimLine(s, b, expected));
        ASSERT_STREQ(line, expected) << "line " << index;
    }

    // Once a stop is asked for, the first byte counts as the sync byte.
    stopRequested = true;
    EXPECT_TRUE(readDeviceLine(line));
    EXPECT_EQ(line[0], 'T');
    EXPECT_EQ(std::strlen(line), 76u);
}

} // namespace
