// The whole pipeline through the real programs: the device simulator on a
// pseudo-terminal, the headless bridge, and clients on loopback sockets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "device/device_line.h"
#include "motion/averaging.h"
#include "motion/orientation.h"
#include "protocol/reply_text.h"
#include "tests/support/child_process.h"
#include "tests/support/device_lines.h"

using namespace std::chrono_literals;

namespace {

struct Conf {
    std::string comPort;
    int lanPort = 8096;
    int mouse = 0;
    int mode = 0;
    int lan = 1;
    int webSocket = 0;
    int lanAveraging = 1;
    std::string keyed; // "name=value" lines after the eleven
};

std::string confText(const Conf& c) {
    return c.comPort + "\n1.000000\n4\n32\n" + std::to_string(c.lanAveraging) + "\n" +
           std::to_string(c.lanPort) + "\n" + std::to_string(c.mouse) + "\n" +
           std::to_string(c.mode) + "\n" + std::to_string(c.lan) + "\n" +
           std::to_string(c.webSocket) + "\n0\n" + c.keyed;
}

// A test's folder, removed after the test unless it failed (then its
// configuration, logs and error output stay for a look).
struct Scratch {
    std::string path;
    ~Scratch() {
        if (!path.empty() && !::testing::Test::HasFailure()) std::filesystem::remove_all(path);
    }
};

// One simulator, one bridge, in a folder of their own (gone after both).
struct Rig {
    Scratch scratch;
    std::string folder;
    Child devsim;
    Child bridge;
    std::string port; // the simulated device's terminal (or its link)

    explicit Rig(const char* name) : scratch{scratchFolder(name)}, folder(scratch.path) {}

    bool startDevice(std::vector<std::string> options = {}) {
        options.insert(options.begin(), TOLVANE_DEVSIM);
        if (!devsim.start(options, folder, folder + "/devsim.err")) return false;
        std::string path;
        if (!devsim.readLine(&path)) return false;
        if (port.empty()) port = path;
        return true;
    }
    bool startBridge(Conf conf) {
        if (conf.comPort.empty()) conf.comPort = port;
        writeFile(folder + "/tolv.conf", confText(conf));
        return bridge.start({TOLVANE_HEADLESS}, folder, folder + "/headless.err");
    }
    // The next lines of the event log, compared exactly.
    std::vector<std::string> lines(size_t n, Bound bound = Bound(10000)) {
        std::vector<std::string> got;
        std::string line;
        while (got.size() < n && bridge.readLine(&line, bound))
            got.push_back(line);
        return got;
    }
    // The simulator writes its log of sent lines completely when it ends.
    void stopDevice() {
        devsim.signal(SIGTERM);
        EXPECT_EQ(devsim.waitExit(), 0) << devsim.errors();
    }
    // Ctrl+C: the bridge must end at once with status 0 and a clean stderr
    // (a sanitizer report would land there).
    void interrupt() {
        bridge.signal(SIGINT);
        EXPECT_EQ(bridge.waitExit(Bound(10000)), 0) << bridge.errors();
        EXPECT_EQ(bridge.errors().find("WARNING"), std::string::npos) << bridge.errors();
        EXPECT_EQ(bridge.errors().find("ERROR"), std::string::npos) << bridge.errors();
    }
};

std::string openLine(const std::string& port, bool ok) {
    return "open serial (" + port + ") : " + (ok ? " success" : " error");
}

std::string socketLine(int port, bool ok) {
    return "OpenSocket port(" + std::to_string(port) + ") : " + (ok ? "success" : "error");
}

// Distinct lines: a turn about the first axis in steps of 4 degrees, the
// button digits counting along.
std::vector<std::string> turningLines(int count) {
    std::vector<std::string> lines;
    for (int i = 1; i <= count; ++i) {
        float half = 0.0349066f * float(i) / 2.0f;
        const char* buttons[] = {"00000", "10000", "01000", "00001"};
        lines.push_back(deviceLine(std::sin(half), 0.0f, 0.0f, std::cos(half), buttons[i % 4]));
    }
    return lines;
}

std::string replayFile(const std::string& folder, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines)
        text += l.substr(0, deviceLineLength - 1) + "\n";
    writeFile(folder + "/lines.txt", text);
    return folder + "/lines.txt";
}

// What the bridge must reply after pushing these lines into a window of
// the given length, as the core computes it.
std::string expectedReply(const std::vector<std::string>& pushed, int averaging, bool json) {
    static AveragingWindow window;
    window.count = 0;
    MotionOutput output = identityMotion();
    Sample sample{};
    ButtonState buttons{};
    for (const auto& line : pushed) {
        EXPECT_TRUE(parseDeviceLine(line.c_str(), &sample, &buttons));
        int32_t n = pushSample(window, sample, averaging);
        output = computeMotion(window.samples, n, false, output);
    }
    char text[replyTextSize];
    int length = json ? formatJsonReply(text, sizeof text, output, buttons)
                      : formatPlainReply(text, sizeof text, output, buttons);
    return std::string(text, static_cast<size_t>(length < 0 ? 0 : length));
}

const std::string requestFrame = std::string("\x81\x81\x11\x22\x33\x44", 6) + char('D' ^ 0x11);

bool handshake(Client& client) {
    if (!client.send("GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                     "Sec-WebSocket-Version: 13\r\n\r\n"))
        return false;
    const std::string expected = "HTTP/1.1 101 OK\r\nUpgrade: websocket\r\nConnection: upgrade\r\n"
                                 "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
    std::string reply;
    EXPECT_TRUE(client.receive(expected.size(), &reply));
    EXPECT_EQ(reply, expected);
    return reply == expected;
}

// A client the bridge accepted (and greeted, for WebSocket): the socket is logged.
bool joined(Rig& rig, Client& client, int port, bool webSocket = false) {
    return client.connectTo(port) && (!webSocket || handshake(client)) &&
           rig.lines(1) == std::vector<std::string>{socketLine(port, true)};
}

std::string frameReply(Client& client) {
    std::string head, payload;
    if (!client.receive(2, &head)) return "(none)";
    EXPECT_EQ(head[0], '\x81');
    if (!client.receive(static_cast<unsigned char>(head[1]), &payload)) return "(cut)";
    return payload;
}

struct Environment : ::testing::Environment {
    // The bridge must find no display here; the pointer test brings its own.
    void SetUp() override { unsetenv("DISPLAY"); }
};
const auto* environment = ::testing::AddGlobalTestEnvironment(new Environment);

} // namespace

TEST(CommandLines, HeadlessTakesOnlyHelpAndVersionProbeRefusesOddNumbers) {
    Scratch scratch{scratchFolder("options")};
    const std::string& folder = scratch.path;
    Child help;
    ASSERT_TRUE(help.start({TOLVANE_HEADLESS, "--help"}, folder, folder + "/err"));
    std::string line;
    ASSERT_TRUE(help.readLine(&line));
    EXPECT_EQ(line.rfind("usage: tolvane-headless", 0), 0u);
    EXPECT_EQ(help.waitExit(), 0);
    Child version;
    ASSERT_TRUE(version.start({TOLVANE_HEADLESS, "--version"}, folder, folder + "/err"));
    ASSERT_TRUE(version.readLine(&line));
    EXPECT_EQ(line, "tolvane-headless 1.1");
    EXPECT_EQ(version.waitExit(), 0);
    Child other;
    ASSERT_TRUE(other.start({TOLVANE_HEADLESS, "--port", "9000"}, folder, folder + "/err"));
    EXPECT_EQ(other.waitExit(), 2);

    // Values that would overflow a count, an allocation or a deadline.
    const std::vector<std::vector<std::string>> odd = {
        {"--count", "1e300"},  {"--count", "-5"},           {"--rate", "1e-300"},
        {"--timeout", "1e12"}, {"--connect-wait", "12abc"}, {"--rate"}};
    for (const auto& values : odd) {
        std::vector<std::string> args = {TOLVANE_PROBE};
        args.insert(args.end(), values.begin(), values.end());
        Child probe;
        ASSERT_TRUE(probe.start(args, folder, folder + "/err"));
        EXPECT_EQ(probe.waitExit(), 2) << values[0];
    }
}

TEST(HeadlessEndToEnd, PlainSessionAnswersOnlyDAndGoodLines) {
    Rig rig("plain");
    std::vector<std::string> lines = turningLines(40);
    lines[1] = withWrongChecksum(lines[1]);
    ASSERT_TRUE(rig.startDevice(
        {"--replay", replayFile(rig.folder, lines), "--log", rig.folder + "/sent.txt"}));
    Conf conf;
    conf.lanPort = freePort();
    ASSERT_TRUE(rig.startBridge(conf));
    EXPECT_EQ(rig.lines(2), (std::vector<std::string>{openLine(rig.port, true), "enable lan"}));

    Client client;
    ASSERT_TRUE(joined(rig, client, conf.lanPort));
    std::string reply;
    ASSERT_TRUE(client.send("D"));
    ASSERT_TRUE(client.receive(72, &reply));
    EXPECT_EQ(reply, expectedReply({lines[0]}, 1, false));
    // Other bytes poll nothing; the rejected second line gets no reply, so
    // the next reply is that of the third line.
    ASSERT_TRUE(client.send("x\r\ndD"));
    ASSERT_TRUE(client.send("D"));
    ASSERT_TRUE(client.receive(72, &reply));
    EXPECT_EQ(reply, expectedReply({lines[2]}, 1, false));

    client.close();
    EXPECT_EQ(rig.lines(2), (std::vector<std::string>{"ReadSocket error", "Restart...."}));
    rig.interrupt();
    rig.stopDevice();
    std::string sent = readFile(rig.folder + "/sent.txt");
    EXPECT_EQ(std::count(sent.begin(), sent.end(), '\n'), 3) << sent;
}

TEST(HeadlessEndToEnd, WebSocketClientLeavesThenANewCycleKeepsTheWindows) {
    Rig rig("websocket");
    std::vector<std::string> lines = turningLines(40);
    ASSERT_TRUE(rig.startDevice({"--replay", replayFile(rig.folder, lines)}));
    Conf conf;
    conf.lanPort = freePort();
    conf.webSocket = 1;
    conf.lanAveraging = 2;
    conf.mouse = 1; // no display here: the air mouse moves nothing, the LAN goes on
    ASSERT_TRUE(rig.startBridge(conf));
    const std::vector<std::string> opening = {openLine(rig.port, true), "enable lan",
                                              "enable websocket", "enable mouse"};
    EXPECT_EQ(rig.lines(4), opening);

    int descriptors[2] = {0, 0};
    {
        Client client;
        ASSERT_TRUE(joined(rig, client, conf.lanPort, true));
        ASSERT_TRUE(client.send(requestFrame));
        EXPECT_EQ(frameReply(client), expectedReply({lines[0]}, 2, true));
        ASSERT_TRUE(client.send(requestFrame + requestFrame));
        EXPECT_EQ(frameReply(client), expectedReply({lines[0], lines[1]}, 2, true));
        EXPECT_EQ(frameReply(client), expectedReply({lines[1], lines[2]}, 2, true));
        descriptors[0] = rig.bridge.descriptorCount();
    }
    EXPECT_EQ(rig.lines(2), (std::vector<std::string>{"ReadSocket error", "Restart...."}));
    // Three seconds later: the port again, and a new listener.
    EXPECT_EQ(rig.lines(4), opening);
    Client client;
    ASSERT_TRUE(joined(rig, client, conf.lanPort, true));
    ASSERT_TRUE(client.send(requestFrame));
    // The restart kept the window: the last line of the first cycle is in it.
    EXPECT_EQ(frameReply(client), expectedReply({lines[2], lines[3]}, 2, true));
    descriptors[1] = rig.bridge.descriptorCount();
    EXPECT_EQ(descriptors[0], descriptors[1]);
    EXPECT_NE(rig.bridge.errors().find("no display"), std::string::npos);
    rig.interrupt(); // while the worker waits for the next request
}

TEST(HeadlessEndToEnd, DeviceHangUpInASessionAndRecovery) {
    Rig rig("hangup");
    // A short path: the port name holds at most 31 characters.
    char linkFolder[] = "/tmp/tolv-XXXXXX";
    ASSERT_NE(mkdtemp(linkFolder), nullptr);
    rig.port = std::string(linkFolder) + "/port";
    ASSERT_TRUE(
        rig.startDevice({"--link", rig.port, "--hangup-after", "3", "--back-after", "300"}));
    Conf conf;
    conf.lanPort = freePort();
    ASSERT_TRUE(rig.startBridge(conf));
    EXPECT_EQ(rig.lines(2), (std::vector<std::string>{openLine(rig.port, true), "enable lan"}));
    {
        Client client;
        ASSERT_TRUE(joined(rig, client, conf.lanPort));
        std::string reply;
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(client.send("D"));
            ASSERT_TRUE(client.receive(72, &reply));
        }
        ASSERT_TRUE(client.send("D")); // the device has gone
        EXPECT_TRUE(client.closedByPeer());
    }
    std::vector<std::string> got = rig.lines(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(got[0] == "WritePort error" || got[0] == "ReadPort error") << got[0];
    EXPECT_EQ(got[1], "Restart....");
    EXPECT_EQ(rig.lines(2), (std::vector<std::string>{openLine(rig.port, true), "enable lan"}));
    Client client;
    ASSERT_TRUE(joined(rig, client, conf.lanPort));
    std::string reply;
    ASSERT_TRUE(client.send("D"));
    EXPECT_TRUE(client.receive(72, &reply));
    rig.interrupt();
    std::string cleanup = std::string("rm -rf ") + linkFolder;
    EXPECT_EQ(std::system(cleanup.c_str()), 0);
}

TEST(HeadlessEndToEnd, CtrlCEndsEveryBlockingState) {
    struct Case {
        const char* name;
        std::vector<std::string> device; // empty: no simulator
        Conf conf;
        size_t lines;       // log lines that show the state
        const char* client; // bytes a client sends first, or nullptr
    };
    Conf noDevice;
    noDevice.comPort = "/dev/tolvane-none";
    Conf search; // a stream of noise before each line keeps the worker hunting
    search.mode = 1;
    search.mouse = 1;
    Conf lan;
    Conf webSocket;
    webSocket.webSocket = 1;
    Conf idle;
    idle.mode = 2;
    const Case cases[] = {
        {"serial open pause", {}, noDevice, 1, nullptr},
        {"sync search", {"--stream", "50", "--garbage", "3000"}, search, 2, nullptr},
        {"accept", {"--delay", "0"}, lan, 2, nullptr},
        {"handshake", {"--delay", "0"}, webSocket, 3, "GET / HTTP/1.1\r\n"},
        {"request read", {"--delay", "0"}, lan, 2, ""},
        {"idle", {"--delay", "0"}, idle, 1, nullptr},
    };
    // Twice over: the sanitizer builds run it too, and a race shows more often.
    for (int round = 0; round < 2; ++round)
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            Rig rig("stop");
            if (!c.device.empty()) {
                ASSERT_TRUE(rig.startDevice(c.device));
            }
            Conf conf = c.conf;
            conf.lanPort = freePort();
            ASSERT_TRUE(rig.startBridge(conf));
            EXPECT_EQ(rig.lines(c.lines).size(), c.lines);
            Client client;
            if (c.client != nullptr) {
                ASSERT_TRUE(client.connectTo(conf.lanPort));
                ASSERT_TRUE(client.send(c.client));
                if (*c.client == '\0') {
                    EXPECT_EQ(rig.lines(1).size(), 1u); // the socket line
                }
            }
            rig.interrupt();
        }
}

// Ctrl+C closes the port under the worker's transfer, or comes in the pause
// after a restart: neither is a fault of the port nor a reason to open it.
TEST(HeadlessEndToEnd, AStopIsNeverLoggedAsAPortFaultNorOpensThePortAgain) {
    struct Case {
        const char* name;
        std::vector<std::string> device;
        int mode, mouse;
        bool dsu;
        const char* waitFor; // the log line after which Ctrl+C comes
        int rounds;
    };
    const Case cases[] = {
        {"air mouse on a streaming device", {"--stream", "200"}, 1, 1, false, "enable mouse", 12},
        {"DSU on a polled device", {"--delay", "0"}, 0, 0, true, nullptr, 12},
        {"restart pause", {"--silence-after", "0"}, 0, 1, false, "Restart....", 3},
    };
    for (const Case& c : cases) {
        Rig rig("stop-port");
        ASSERT_TRUE(rig.startDevice(c.device));
        for (int round = 0; round < c.rounds; ++round) {
            SCOPED_TRACE(std::string(c.name) + ", round " + std::to_string(round));
            Conf conf;
            conf.lan = 0;
            conf.mode = c.mode;
            conf.mouse = c.mouse;
            if (c.dsu) conf.keyed = "dsuServer=on\ndsuPort=" + std::to_string(freePort()) + "\n";
            ASSERT_TRUE(rig.startBridge(conf));
            std::vector<std::string> log = rig.lines(1);
            ASSERT_EQ(log, std::vector<std::string>{openLine(rig.port, true)});
            std::string line;
            while (c.waitFor != nullptr && log.back() != c.waitFor && rig.bridge.readLine(&line))
                log.push_back(line);
            // Let the worker get into its transfers (or its pause) now and then.
            if (round % 2 == 1) std::this_thread::sleep_for(std::chrono::milliseconds(20 * round));
            rig.interrupt();
            while (rig.bridge.readLine(&line))
                log.push_back(line);
            std::string text;
            for (const auto& l : log)
                text += l + "\n";
            // A real fault before the stop (a starved simulator on a busy
            // machine) is followed by its restart; a stop's is followed by nothing.
            for (size_t i = 0; i < log.size(); ++i) {
                if (log[i] == "ReadPort error" || log[i] == "WritePort error") {
                    EXPECT_TRUE(i + 1 < log.size() && log[i + 1] == "Restart....") << text;
                }
                if (i > 0 && log[i - 1] == "Restart....") {
                    EXPECT_NE(log[i], openLine(rig.port, true)) << text;
                }
            }
            EXPECT_EQ(rig.bridge.errors().find("ReadPort"), std::string::npos);
        }
    }
}

TEST(ProbeEndToEnd, PlainAndWebSocketRunsReportEveryReply) {
    for (int webSocket = 0; webSocket < 2; ++webSocket) {
        SCOPED_TRACE(webSocket ? "websocket" : "plain");
        Rig rig("probe");
        ASSERT_TRUE(rig.startDevice());
        Conf conf;
        conf.lanPort = freePort();
        conf.webSocket = webSocket;
        ASSERT_TRUE(rig.startBridge(conf));
        Child probe;
        // The bridge may not listen yet: a refused connection is tried again.
        std::vector<std::string> args = {TOLVANE_PROBE, "--port", std::to_string(conf.lanPort),
                                         "--count",     "20",     "--connect-wait",
                                         "10"};
        if (webSocket) args.push_back("--websocket");
        ASSERT_TRUE(probe.start(args, rig.folder, rig.folder + "/probe.err"));
        std::string line;
        for (int i = 0; i < 20; ++i) {
            ASSERT_TRUE(probe.readLine(&line));
            EXPECT_EQ(line.size(), webSocket ? 92u : 72u) << line;
        }
        ASSERT_TRUE(probe.readLine(&line));
        EXPECT_EQ(line, "replies 20, no reply 0");
        ASSERT_TRUE(probe.readLine(&line));
        EXPECT_EQ(line.rfind("latency ms: p50 ", 0), 0u) << line;
        ASSERT_TRUE(probe.readLine(&line));
        EXPECT_EQ(line.rfind("requests per second: ", 0), 0u) << line;
        EXPECT_EQ(probe.waitExit(), 0) << probe.errors();
        rig.interrupt();
    }
}
