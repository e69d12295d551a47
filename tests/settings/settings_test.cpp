#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "settings/assign_setting.h"
#include "settings/settings.h"
#include "settings/settings_table.h"

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

// The replacing write says which step failed, in the system's words.
TEST_F(SettingsFile, AReplaceThatFailsSaysWhy) {
    const SystemResult written = writeSettingsFileAtomically("no-such-folder/tolv.conf");
    EXPECT_FALSE(written);
#ifndef _WIN32
    EXPECT_EQ(written.error, ENOENT);
    EXPECT_EQ(std::string(written.reason),
              std::string("cannot create a temporary file in its folder: ") +
                  std::strerror(ENOENT));
#endif
    EXPECT_TRUE(writeSettingsFileAtomically(path));
}

namespace {

const char elevenLines[] = "COM3\n1.000000\n4\n32\n1\n9000\n1\n0\n0\n0\n0\n";

bool accepts(const char* name, const char* value) {
    char reason[200];
    TextBuilder why(reason, sizeof reason);
    return checkSettingText(findSetting(name, std::strlen(name)), value, why);
}

} // namespace

TEST_F(SettingsFile, TableRowsMatchTheFileAndTheirDefaults) {
    for (int i = 0; i < settingsRowCount; ++i) {
        SCOPED_TRACE(settingsTable[i].name);
        EXPECT_EQ(settingsTable[i].line, i < settingsLineCount ? i + 1 : 0);
        EXPECT_TRUE(settingAtDefault(i));
        EXPECT_EQ(findSetting(settingsTable[i].name, std::strlen(settingsTable[i].name)), i);
    }
    EXPECT_EQ(settings.mouseSmoothing, MouseSmoothing::average);
    EXPECT_EQ(settings.mouseMinCutoff, 0.3f);
    EXPECT_EQ(settings.mouseBeta, 6.0f);
    EXPECT_EQ(settings.pointer, PointerBackend::automatic);
}

TEST_F(SettingsFile, KeyedLinesInAnyOrderAndUnknownLinesKept) {
    writeFile(std::string(elevenLines) +
              "udpTarget=[::1]:4242\r\nfutureThing=7\n# a note\nmouseSmoothing=adaptive\n"
              "mouseBeta=0.007\nmouseClickHold=250\nscreenSize=1920x1080\npointer=uinput\n"
              "mouseClutch=middle\nmouseRecenter=left-right\nudpFormat=osc\nmouseMinCutoff=2.5\n");
    readSettingsFile(path);
    EXPECT_EQ(settings.lanPort, 9000);
    EXPECT_EQ(settings.mouseSmoothing, MouseSmoothing::adaptive);
    EXPECT_EQ(settings.mouseBeta, 0.007f);
    EXPECT_EQ(settings.mouseMinCutoff, 2.5f);
    EXPECT_EQ(settings.mouseClickHold, 250);
    EXPECT_EQ(settings.mouseClutch, MouseClutch::middle);
    EXPECT_EQ(settings.mouseRecenter, MouseRecenter::leftRight);
    EXPECT_EQ(settings.pointer, PointerBackend::uinput);
    EXPECT_EQ(settings.udpFormat, UdpFormat::osc);
    char text[udpTargetSize];
    getUdpTarget(text);
    EXPECT_STREQ(text, "[::1]:4242");

    // The dialog's writer keeps them all: known ones in the table's order,
    // then the unknown ones as read.
    ASSERT_TRUE(writeSettingsFile(path));
    std::string expected = std::string(elevenLines) +
                           "mouseSmoothing=adaptive\nmouseMinCutoff=2.5\nmouseBeta=0.007\n"
                           "mouseClickHold=250\nmouseRecenter=left-right\nmouseClutch=middle\n"
                           "pointer=uinput\nscreenSize=1920x1080\nudpTarget=[::1]:4242\n"
                           "udpFormat=osc\nfutureThing=7\n# a note\n";
#ifdef _WIN32
    for (size_t at = 0; (at = expected.find('\n', at)) != std::string::npos; at += 2)
        expected.insert(at, "\r");
#endif
    EXPECT_EQ(readFile(), expected);

    // Back at their defaults, keyed settings leave the file.
    setDefaults();
    readSettingsFile(path);
    settings.mouseSmoothing = MouseSmoothing::average;
    settings.mouseBeta = 6.0f;
    settings.mouseClickHold = 0;
    settings.mouseMinCutoff = 0.3f;
    settings.mouseRecenter = MouseRecenter::none;
    settings.mouseClutch = MouseClutch::none;
    settings.pointer = PointerBackend::automatic;
    setScreenSize("");
    setUdpTarget("");
    settings.udpFormat = UdpFormat::opentrack;
    setKeptLines("");
    ASSERT_TRUE(writeSettingsFile(path));
    setDefaults();
    readSettingsFile(path);
    char written[settingsTextSize];
    ASSERT_GT(formatSettingsText(written, sizeof written), 0);
    EXPECT_STREQ(written, elevenLines);
}

TEST_F(SettingsFile, BadKeyedValuesKeepTheirDefaults) {
    writeFile(std::string(elevenLines) +
              "mouseMinCutoff=0\nmouseBeta=abc\nmouseClickHold=1001\npointer=wayland\n"
              "screenSize=0x5\nudpTarget=host\nudpFormat=OSC\nmouseSmoothing=\n");
    readSettingsFile(path);
    for (int i = settingsLineCount; i < settingsRowCount; ++i)
        EXPECT_TRUE(settingAtDefault(i)) << settingsTable[i].name;
    EXPECT_EQ(settings.lanPort, 9000);
}

TEST_F(SettingsFile, LongLineIsOneLine) {
    // The excess of a long line is dropped: the lines after it stay in place.
    writeFile(std::string(300, 'A') + "\n2.5\n4\n32\n1\n9000\n1\n0\n0\n0\n0\n" +
              std::string(400, 'x') + "\nmouseClickHold=20\n");
    readSettingsFile(path);
    EXPECT_EQ(port(), std::string(31, 'A'));
    EXPECT_EQ(settings.screenDistance, 2.5f);
    EXPECT_EQ(settings.lanPort, 9000);
    EXPECT_EQ(settings.mouseClickHold, 20);
    // A line of exactly 255 bytes and its line end is no longer line.
    writeFile(std::string(255, 'B') + "\r\n2.5\n");
    FILE* file = std::fopen(path, "r");
    char line[settingsLineSize];
    bool cut = true;
    ASSERT_TRUE(readSettingsLine(file, line, sizeof line, &cut));
    EXPECT_FALSE(cut);
    ASSERT_TRUE(readSettingsLine(file, line, sizeof line, &cut));
    EXPECT_STREQ(line, "2.5");
    std::fclose(file);
}

#ifndef _WIN32
TEST_F(SettingsFile, FifoIsRefusedWithoutWaiting) {
    ASSERT_EQ(mkfifo(path, 0600), 0);
    int error = 0;
    EXPECT_EQ(openSettingsFile(path, &error), nullptr);
    EXPECT_EQ(error, settingsNotRegularFile);
    readSettingsFile(path); // returns at once, settings untouched
    EXPECT_EQ(port(), "COM19");
}
#endif

TEST(SettingsValues, KeyedValueRules) {
    EXPECT_TRUE(accepts("mouseBeta", "0"));
    EXPECT_TRUE(accepts("mouseBeta", "1e-3"));
    EXPECT_FALSE(accepts("mouseBeta", "-0.1"));
    EXPECT_FALSE(accepts("mouseBeta", "0.5x"));
    EXPECT_FALSE(accepts("mouseBeta", "1e"));
    EXPECT_FALSE(accepts("mouseBeta", " 1"));
    EXPECT_FALSE(accepts("mouseMinCutoff", "0.001"));
    EXPECT_TRUE(accepts("mouseClickHold", "1000"));
    EXPECT_FALSE(accepts("mouseClickHold", "-1"));
    EXPECT_FALSE(accepts("mouseClickHold", "5ms"));
    EXPECT_TRUE(accepts("mouseRecenter", "middle-hold"));
    EXPECT_FALSE(accepts("mouseRecenter", "Middle-hold"));
    EXPECT_TRUE(accepts("screenSize", ""));
    EXPECT_TRUE(accepts("screenSize", "100000x1"));
    EXPECT_FALSE(accepts("screenSize", "100001x1"));
    EXPECT_FALSE(accepts("screenSize", "1920x"));
    for (const char* good : {"primary", "all", "1", "16"})
        EXPECT_TRUE(accepts("mouseScreen", good)) << good;
    for (const char* bad : {"", "0", "17", "01", "-1", "2x", "Primary", "99999999999"})
        EXPECT_FALSE(accepts("mouseScreen", bad)) << bad;
    EXPECT_TRUE(accepts("udpTarget", ""));
    EXPECT_TRUE(accepts("udpTarget", "192.168.1.5:4242"));
    EXPECT_TRUE(accepts("udpTarget", "my-pc.local:65535"));
    for (const char* bad : {"host", "host:0", "host:65536", "a@b:1", "127.0.0.1/x:80", "[::1]",
                            ":80", "[zz]:80", "a..b:1", "host:80x"})
        EXPECT_FALSE(accepts("udpTarget", bad)) << bad;
    for (const char* good : {"", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0",
                             "ttyUSB0", "usb:0403:6001", "usb:0403:6001:A12345", "usb:04D8:000a"})
        EXPECT_TRUE(accepts("comDevice", good)) << good;
    for (const char* bad : {"usb:", "usb:403:6001", "usb:0403-6001",
                            "usb:0403:6001:", "usb:0403:60g1", "usb:04030:6001", "usb:0403"})
        EXPECT_FALSE(accepts("comDevice", bad)) << bad;
    EXPECT_TRUE(accepts("comDevice", std::string(245, 'a').c_str()));
    EXPECT_FALSE(accepts("comDevice", std::string(246, 'a').c_str()));
    EXPECT_TRUE(accepts("dsuServer", "on"));
    EXPECT_FALSE(accepts("dsuServer", "1"));
    EXPECT_TRUE(accepts("dsuPort", "1"));
    EXPECT_TRUE(accepts("dsuPort", "65535"));
    EXPECT_FALSE(accepts("dsuPort", "0"));
    EXPECT_FALSE(accepts("dsuPort", "65536"));
    for (const char* good : {"127.0.0.1", "0.0.0.0", "10.0.100.9", "223.255.255.255"})
        EXPECT_TRUE(accepts("dsuAddress", good)) << good;
    for (const char* bad : {"", "localhost", "256.0.0.1", "1.2.3", "1.2.3.4.", "1.2.3.4 ", "1..2.3",
                            "192.168.001.2", "::1"})
        EXPECT_FALSE(accepts("dsuAddress", bad)) << bad;
    EXPECT_TRUE(accepts("longPress", "100"));
    EXPECT_FALSE(accepts("longPress", "5001"));
    EXPECT_TRUE(accepts("doublePress", "1000"));
    EXPECT_FALSE(accepts("doublePress", "49"));
    EXPECT_TRUE(accepts("mouseReachX", "0.1"));
    EXPECT_FALSE(accepts("mouseReachY", "0"));
    EXPECT_FALSE(accepts("mousePrecision", "0.5"));
    EXPECT_TRUE(accepts("dwellClick", "double"));
    EXPECT_FALSE(accepts("dwellClick", "on"));
    EXPECT_FALSE(accepts("dwellTime", "100"));
    EXPECT_FALSE(accepts("dwellRadius", "0"));
    EXPECT_TRUE(accepts("pointerMode", "hybrid"));
    EXPECT_FALSE(accepts("pointerMode", "rel"));
    for (const char* good : {"#ff2020", "#000000", "#FFffFF"})
        EXPECT_TRUE(accepts("overlayColor", good)) << good;
    for (const char* bad : {"", "ff2020", "#ff202", "#ff20200", "#gg2020", "red"})
        EXPECT_FALSE(accepts("overlayColor", bad)) << bad;
    EXPECT_TRUE(accepts("overlay", "magnifier"));
    EXPECT_FALSE(accepts("overlay", "Laser"));
    EXPECT_TRUE(accepts("overlayRadius", "20"));
    EXPECT_FALSE(accepts("overlayRadius", "801"));
    EXPECT_TRUE(accepts("overlayDim", "0"));
    EXPECT_FALSE(accepts("overlayDim", "96"));
    EXPECT_TRUE(accepts("overlayTrail", "2000"));
    EXPECT_FALSE(accepts("overlayTrail", "-1"));
    EXPECT_TRUE(accepts("overlayZoom", "1.5"));
    EXPECT_FALSE(accepts("overlayZoom", "4.1"));
    EXPECT_TRUE(accepts("relativeGain", "0.1"));
    EXPECT_TRUE(accepts("relativeGain", "10"));
    EXPECT_FALSE(accepts("relativeGain", "0"));
    EXPECT_FALSE(accepts("relativeGain", "10.5"));
    EXPECT_TRUE(accepts("buttonPreset", "presenter"));
    EXPECT_TRUE(accepts("button4", ""));
    EXPECT_TRUE(accepts("button2", "press:PageDown long:Shift+F5 double:B"));
    EXPECT_FALSE(accepts("button2", "press:Shift+"));
    EXPECT_FALSE(accepts("button0", std::string(buttonActionsSize, 'B').c_str()));
    // A button's line is kept as the table spells it.
    const int row = findSetting("button3", 7);
    settingsTable[row].store("double:b  press:pagedown");
    char line[buttonActionsSize];
    getButtonLine(3, line);
    EXPECT_STREQ(line, "press:PageDown double:B");
    settingsTable[row].store("");
    EXPECT_TRUE(settingAtDefault(row));

    for (const char* good : {"", "localhost", "0.0.0.0", "192.168.1.20", "::", "::1", "fd00::5",
                             "1:2:3:4:5:6:7:8", "::ffff:192.168.1.20", "fe80::1:2"})
        EXPECT_TRUE(accepts("lanAddress", good)) << good;
    for (const char* bad : {"[::1]", "fe80::1%eth0", "my-pc.local", "256.1.1.1", "1.2.3",
                            "010.1.1.1", "1.2.3.4 ", ":::", "1::2::3", "1:2:3:4:5:6:7:8:9",
                            "12345::", "::1:", ":1", "1:2:3:4:5:6:7:1.2.3.4", "LOCALHOST"})
        EXPECT_FALSE(accepts("lanAddress", bad)) << bad;
    // Addresses of many machines are refused with the reason, for both servers.
    const struct {
        const char* name;
        const char* value;
        const char* said;
    } many[] = {
        {"dsuAddress", "255.255.255.255", "is the broadcast address: "},
        {"dsuAddress", "224.0.0.1", "is a multicast address: "},
        {"dsuAddress", "239.255.255.250", "is a multicast address: "},
        {"lanAddress", "255.255.255.255", "is the broadcast address: "},
        {"lanAddress", "224.0.0.1", "is a multicast address: "},
        {"lanAddress", "ff02::1", "is a multicast address: "},
        {"lanAddress", "::ffff:255.255.255.255", "is the broadcast address: "},
    };
    for (const auto& m : many) {
        char reason[400];
        TextBuilder why(reason, sizeof reason);
        EXPECT_FALSE(checkSettingText(findSetting(m.name, std::strlen(m.name)), m.value, why))
            << m.value;
        EXPECT_EQ(std::string(reason).rfind(m.said, 0), 0u) << reason;
    }
    for (const char* good : {"", "null", "null,http://localhost:8000", " null , https://a.example ",
                             "http://[::1]:8096", "app+x://my-host_1"})
        EXPECT_TRUE(accepts("webSocketOrigins", good)) << good;
    for (const char* bad : {"null,,http://a", "http://localhost:8000/", "localhost:8000", "*",
                            "http://a:0", "http://a:65536", "http://", "file:///x", "Null"})
        EXPECT_FALSE(accepts("webSocketOrigins", bad)) << bad;
    EXPECT_FALSE(accepts("webSocketOrigins", ("http://" + std::string(240, 'a')).c_str()));

    // The bytes a listener binds, in network order.
    const struct {
        const char* text;
        ListenFamily family;
        std::vector<uint8_t> bytes;
    } addresses[] = {
        {"", ListenFamily::any, {}},
        {"localhost", ListenFamily::ipv4, {127, 0, 0, 1}},
        {"10.0.200.7", ListenFamily::ipv4, {10, 0, 200, 7}},
        {"::1", ListenFamily::ipv6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"fd00:a::b:c",
         ListenFamily::ipv6,
         {0xfd, 0, 0, 0xa, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xb, 0, 0xc}},
        {"1::", ListenFamily::ipv6, {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"::ffff:1.2.3.4",
         ListenFamily::ipv6,
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 1, 2, 3, 4}},
    };
    for (const auto& a : addresses) {
        ListenAddress parsed;
        ASSERT_TRUE(parseListenAddress(a.text, &parsed, nullptr)) << a.text;
        EXPECT_EQ(parsed.family, a.family) << a.text;
        EXPECT_EQ(std::vector<uint8_t>(parsed.bytes, parsed.bytes + a.bytes.size()), a.bytes)
            << a.text;
    }
    char endpoint[64];
    for (const auto& [text, shown] : {std::pair<const char*, const char*>{"", "0.0.0.0:8096"},
                                      {"localhost", "127.0.0.1:8096"},
                                      {"::1", "[::1]:8096"}}) {
        TextBuilder out(endpoint, sizeof endpoint);
        appendListenEndpoint(out, text, 8096);
        EXPECT_STREQ(endpoint, shown);
    }

    char host[64];
    uint16_t udpPort = 0;
    ASSERT_TRUE(parseUdpTarget("[fe80::1]:4242", host, sizeof host, &udpPort));
    EXPECT_STREQ(host, "fe80::1");
    EXPECT_EQ(udpPort, 4242);
    int32_t width = 0, height = 0;
    ASSERT_TRUE(parseScreenSize("2560x1440", &width, &height));
    EXPECT_EQ(width, 2560);
    EXPECT_EQ(height, 1440);

    char text[32];
    for (float value : {0.01f, 0.007f, 1.0f, 2.5f, 99.99999f, 0.1234567f}) {
        TextBuilder out(text, sizeof text);
        appendShortFloat(out, value);
        float back = 0.0f;
        EXPECT_TRUE(scanFloat(text, &back) && back == value) << text;
    }
}

// A NUL byte ends a line's text, as a carriage return does, and never the
// line: the fields after it stay on their own lines.
TEST_F(SettingsFile, NulByteEndsTheTextNotTheLine) {
    using namespace std::string_literals;
    writeFile("ttyS0\0junk\n2.5\n7\n16\n3\n9000\n0\n0\n1\n1\n0\n"s +
              "mouseClutch=left\0x\nudpTarget=127.0.0.1:4242\nfuture=1\0\n"s);
    readSettingsFile(path);
    EXPECT_EQ(port(), "ttyS0");
    EXPECT_EQ(settings.screenDistance, 2.5f);
    EXPECT_EQ(settings.scrollSpeed, 7);
    EXPECT_EQ(settings.lanPort, 9000);
    EXPECT_EQ(settings.deviceMode, 0);
    EXPECT_EQ(settings.accelerationOutput, 0);
    EXPECT_EQ(settings.mouseClutch, MouseClutch::left);
    char target[udpTargetSize];
    getUdpTarget(target);
    EXPECT_STREQ(target, "127.0.0.1:4242");
    char kept[64];
    getKeptLines(kept, sizeof kept);
    EXPECT_STREQ(kept, "future=1\n");

    FILE* file = std::fopen(path, "r");
    char line[settingsLineSize];
    bool cut = true, nul = false;
    ASSERT_TRUE(readSettingsLine(file, line, sizeof line, &cut, &nul));
    EXPECT_TRUE(nul);
    EXPECT_FALSE(cut);
    ASSERT_TRUE(readSettingsLine(file, line, sizeof line, &cut, &nul));
    EXPECT_FALSE(nul);
    EXPECT_STREQ(line, "2.5");
    std::fclose(file);
}

// Every value a row takes is read back whole: its line, "name=" included,
// fits the 255 bytes the reader keeps, and a longer value is refused with
// the limit. A keyed line cut by the reader keeps its default.
TEST_F(SettingsFile, EveryValueFitsItsLine) {
    for (int i = 0; i < settingsRowCount; ++i) {
        SCOPED_TRACE(settingsTable[i].name);
        const int limit = settingValueLimit(i);
        const int prefix =
            isKeyedSetting(i) ? static_cast<int>(std::strlen(settingsTable[i].name)) + 1 : 0;
        EXPECT_LE(prefix + limit, settingsLineSize - 1);
        if (!isKeyedSetting(i)) continue;
        char reason[200];
        TextBuilder why(reason, sizeof reason);
        EXPECT_FALSE(checkSettingText(i, std::string(limit + 1, '1').c_str(), why));
        EXPECT_NE(std::strstr(reason, ("at most " + std::to_string(limit) + " fit").c_str()),
                  nullptr)
            << reason;
    }
    // The longest host that fits, written and read back; one more byte is refused.
    const std::string host = std::string(60, 'a') + "." + std::string(60, 'b') + "." +
                             std::string(60, 'c') + "." + std::string(57, 'd');
    const std::string target = host + ":4242";
    ASSERT_EQ(target.size(), 245u);
    EXPECT_TRUE(accepts("udpTarget", target.c_str()));
    EXPECT_FALSE(accepts("udpTarget", ("e" + target).c_str()));
    setUdpTarget(target.c_str());
    ASSERT_TRUE(writeSettingsFile(path));
    setDefaults();
    readSettingsFile(path);
    char read[udpTargetSize];
    getUdpTarget(read);
    EXPECT_EQ(read, target);

    writeFile(std::string(elevenLines) + "udpTarget=" + host + "e.example:42424\n");
    setDefaults();
    readSettingsFile(path);
    getUdpTarget(read);
    EXPECT_STREQ(read, "") << "a cut line's value is not taken";
}

// Lines the reader does not know are all written back; more than it can keep
// and no writer writes the file, rather than dropping some.
TEST_F(SettingsFile, UnknownLinesAreAllKeptOrTheFileIsNotWritten) {
    std::string unknown;
    for (int n = 0; n < 25; ++n)
        unknown += "future" + std::to_string(n) + "=" + std::string(240, 'x') + "\n";
    writeFile(std::string(elevenLines) + unknown);
    readSettingsFile(path);
    EXPECT_EQ(lostKeptLines(), 0);
    char text[settingsTextSize];
    ASSERT_GT(formatSettingsText(text, sizeof text), 0);
    EXPECT_EQ(std::string(text), elevenLines + unknown);

    std::string many = unknown;
    while (many.size() <= static_cast<size_t>(keptLinesSize))
        many += unknown;
    const std::string file = std::string(elevenLines) + many;
    writeFile(file);
    readSettingsFile(path);
    int first = 0;
    EXPECT_GT(lostKeptLines(&first), 0);
    EXPECT_GT(first, 11 + 25);
    EXPECT_EQ(formatSettingsText(text, sizeof text), -1);
    EXPECT_FALSE(writeSettingsFile(path));
    const SystemResult written = writeSettingsFileAtomically(path);
    EXPECT_FALSE(written);
    EXPECT_NE(std::strstr(written.reason, "would be lost"), nullptr) << written.reason;
    EXPECT_EQ(readFile(), file);
}

// The gestures' and the flicks' values at their edges, and a flick's line
// kept as the table spells it.
TEST(SettingsValues, MotionCommandRules) {
    const struct {
        const char* name;
        const char* value;
        bool good;
    } cases[] = {
        {"gestureDeadZone", "0", true},
        {"gestureDeadZone", "30.5", false},
        {"scrollRate", "0.1", true},
        {"scrollRate", "0.05", false},
        {"scrollRate", "20", true},
        {"scrollMax", "0.5", false},
        {"scrollMax", "100", true},
        {"volumeStep", "1.9", false},
        {"volumeStep", "90", true},
        {"flickSpeed", "49", false},
        {"flickSpeed", "2000", true},
        {"flickTime", "50", true},
        {"flickTime", "501", false},
        {"flickWhen", "always", true},
        {"flickWhen", "airmouse-off", true},
        {"flickWhen", "held:4", true},
        {"flickWhen", "held:5", false},
        {"flickWhen", "held:", false},
        {"flickWhen", "held:01", false},
        {"flickWhen", "Always", false},
        {"flickLeft", "", true},
        {"flickLeft", "Shift+F5", true},
        {"flickRight", "VolumeUp", true},
        {"flickUp", "WheelUp", true},
        {"flickUp", "Recenter", false},
        {"flickDown", "press:PageDown", false},
        {"flickDown", "PageDown Esc", false},
        {"flickDown", "Scroll", false},
        {"button0", "long:Volume", true},
        {"button1", "HScroll double:Zoom", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(accepts(c.name, c.value), c.good) << c.name << "=" << c.value;

    setDefaults();
    char reason[600];
    TextBuilder why(reason, sizeof reason);
    ASSERT_TRUE(assignSetting("flickRight=pagedown", why)) << reason;
    char line[buttonActionsSize];
    getFlickLine(1, line);
    EXPECT_STREQ(line, "PageDown");
    ASSERT_TRUE(assignSetting("flickWhen=held:2", why)) << reason;
    EXPECT_EQ(settings.flickWhen.load(), 2);
    ASSERT_TRUE(assignSetting("mouseEnabled=off", why)) << reason;
    ASSERT_TRUE(assignSetting("deviceMode=B", why)) << reason;
    EXPECT_EQ(settings.mouseEnabled.load(), 0);
    EXPECT_EQ(settings.deviceMode.load(), devicePresetB);
    // What is refused names the setting and changes nothing.
    for (const char* bad :
         {"flickTime=10", "mouseAveraging=256", "nothing=1", "flickWhen", "comPort="}) {
        char text[600];
        TextBuilder refused(text, sizeof text);
        EXPECT_FALSE(assignSetting(bad, refused)) << bad;
        EXPECT_GT(refused.length, 0u) << bad;
    }
    EXPECT_EQ(settings.flickTime.load(), 150);
    EXPECT_EQ(settings.mouseAveraging.load(), 32);
    setDefaults();
}
