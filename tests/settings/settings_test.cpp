#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "settings/settings.h"

namespace {

const char* const path = "settings_test.conf";

void writeFile(const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readFile() {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string port() {
    char name[comPortSize];
    getComPort(name);
    return name;
}

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::remove(path);
        setDefaults();
    }
    void TearDown() override { std::remove(path); }
};

} // namespace

TEST_F(SettingsFile, MissingOrEmptyFileKeepsDefaults) {
    readSettingsFile(path);
    EXPECT_EQ(port(), "COM19");
    EXPECT_EQ(settings.screenDistance, 1.0f);
    EXPECT_EQ(settings.mouseAveraging, 32);
    EXPECT_EQ(settings.deviceMode, 2);
    writeFile("");
    readSettingsFile(path);
    EXPECT_EQ(port(), "COM19");
    EXPECT_EQ(settings.lanPort, 8096);
}

TEST_F(SettingsFile, WritesTheDocumentedLines) {
    settings.deviceMode = 0;
    ASSERT_TRUE(writeSettingsFile(path));
#ifdef _WIN32
    EXPECT_EQ(readFile(), "COM19\r\n1.000000\r\n4\r\n32\r\n1\r\n8096\r\n1\r\n0\r\n0\r\n0\r\n0\r\n");
#else
    EXPECT_EQ(readFile(), "COM19\n1.000000\n4\n32\n1\n8096\n1\n0\n0\n0\n0\n");
#endif
}

TEST_F(SettingsFile, RoundTripOfDialogValues) {
    setComPort("/dev/ttyUSB0");
    settings.screenDistance = 2.345678f;
    settings.scrollSpeed = 64;
    settings.mouseAveraging = 255;
    settings.lanAveraging = 7;
    settings.lanPort = 70000;
    settings.mouseEnabled = 0;
    settings.deviceMode = 1;
    settings.lanEnabled = 1;
    settings.webSocketEnabled = 1;
    settings.accelerationOutput = 1;
    ASSERT_TRUE(writeSettingsFile(path));
    const std::string written = readFile();
    // Every field differs from its default, so one that is not read back
    // shows in the second file.
    setDefaults();
    readSettingsFile(path);
    EXPECT_EQ(settings.screenDistance, 2.345678f);
    ASSERT_TRUE(writeSettingsFile(path));
    EXPECT_EQ(readFile(), written);
}

TEST_F(SettingsFile, OddLinesAreReadAsTheFormatsDo) {
    writeFile(" COM3 \r\nabc\r\n12abc\r\n1000\r\n\r\n70000\r\n256\r\n7\r\n2\r\n1.5\r\n-1\r\n");
    readSettingsFile(path);
    EXPECT_EQ(port(), " COM3 ");
    EXPECT_EQ(settings.screenDistance, 1.0f); // abc keeps the value
    EXPECT_EQ(settings.scrollSpeed, 12);
    EXPECT_EQ(settings.mouseAveraging, 1000); // kept as read; clamped where used
    EXPECT_EQ(settings.lanAveraging, 1);      // empty line keeps it
    EXPECT_EQ(settings.lanPort, 70000);
    EXPECT_EQ(settings.mouseEnabled, 0); // 256 keeps its low 8 bits
    EXPECT_EQ(settings.deviceMode, 7);
    EXPECT_EQ(settings.lanEnabled, 2);
    EXPECT_EQ(settings.webSocketEnabled, 1);
    EXPECT_EQ(settings.accelerationOutput, 255);
}

TEST_F(SettingsFile, ShortLongAndUnendedFiles) {
    // A ten-line file: the missing eleventh line leaves its field alone.
    writeFile("COM3\n0.05\n4\n32\n1\n8096\n1\n0\n1\n1\n");
    settings.accelerationOutput = 0;
    readSettingsFile(path);
    EXPECT_EQ(port(), "COM3");
    EXPECT_EQ(settings.screenDistance, 0.05f); // no range applied on reading
    EXPECT_EQ(settings.webSocketEnabled, 1);
    EXPECT_EQ(settings.accelerationOutput, 0);

    writeFile(std::string(40, 'A') + "\n" + "3.5");
    readSettingsFile(path);
    EXPECT_EQ(port(), std::string(31, 'A'));
    EXPECT_EQ(settings.screenDistance, 3.5f);
    writeFile("\n");
    readSettingsFile(path);
    EXPECT_EQ(port(), "");
}

TEST_F(SettingsFile, UnwritablePathIsSkipped) {
    EXPECT_FALSE(writeSettingsFile("no-such-folder/tolv.conf"));
    EXPECT_EQ(port(), "COM19");
}
