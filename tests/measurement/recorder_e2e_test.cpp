// The recorder through the real programs: what the bridge records decodes to
// the replies it sent, both presets are recorded, and neither a full disk nor
// Ctrl+C leaves half a line.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "device/capture.h"
#include "device/device_line.h"
#include "tests/support/child_process.h"

using namespace std::chrono_literals;

namespace {

struct Session {
    std::string folder;
    Child devsim;
    Child bridge;
    std::string port;

    explicit Session(const char* name) : folder(scratchFolder(name)) {}
    ~Session() {
        if (!folder.empty() && !::testing::Test::HasFailure())
            std::system(("rm -rf '" + folder + "'").c_str());
    }
    bool startDevice(std::vector<std::string> options) {
        options.insert(options.begin(), TOLVANE_DEVSIM);
        return devsim.start(options, folder, folder + "/devsim.err") && devsim.readLine(&port);
    }
    // Preset C with the LAN server (mode 0) or preset B with the air mouse
    // (mode 1; no display here, so it moves nothing, but the lines are read).
    bool startBridge(int mode, int lanPort, int lanAveraging, const std::string& shellPrefix = "") {
        writeFile(folder + "/tolv.conf",
                  port + "\n1.000000\n4\n32\n" + std::to_string(lanAveraging) + "\n" +
                      std::to_string(lanPort) + "\n" + (mode == 1 ? "1" : "0") + "\n" +
                      std::to_string(mode) + "\n" + (mode == 0 ? "1" : "0") + "\n0\n0\n");
        const std::string command = std::string(TOLVANE_HEADLESS) + " --record capture.txt";
        if (shellPrefix.empty())
            return bridge.start({TOLVANE_HEADLESS, "--record", "capture.txt"}, folder,
                                folder + "/headless.err");
        return bridge.start({"/bin/sh", "-c", shellPrefix + "; exec " + command}, folder,
                            folder + "/headless.err");
    }
    std::string capture() const { return readFile(folder + "/capture.txt"); }
    void interrupt() {
        bridge.signal(SIGINT);
        EXPECT_EQ(bridge.waitExit(Bound(10000)), 0) << bridge.errors();
    }
};

// tolvane-decode's lines for a file, and its exit status.
std::vector<std::string> decode(const std::string& folder, const std::string& file,
                                std::vector<std::string> options, int* status) {
    options.insert(options.begin(), TOLVANE_DECODE);
    options.push_back(file);
    Child decoder;
    std::vector<std::string> lines;
    if (!decoder.start(options, folder, folder + "/decode.err")) return lines;
    for (std::string line; decoder.readLine(&line);)
        lines.push_back(line);
    *status = decoder.waitExit();
    return lines;
}

int countRecords(const std::string& text) {
    int records = 0;
    for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
        if (text[at] != '#') ++records;
        if (text.find('\n', at) == std::string::npos) break;
    }
    return records;
}

// Waits (bounded) until the capture holds at least n records.
bool waitForRecords(const Session& run, int n) {
    for (int i = 0; i < 500; ++i) {
        if (countRecords(run.capture()) >= n) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// Whole lines only: the file ends with a line end and every record parses.
void expectWholeLines(const std::string& text) {
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.rfind(std::string(captureHeader) + "\n", 0), 0u) << text.substr(0, 40);
    EXPECT_EQ(text.back(), '\n');
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        CaptureRecord record;
        const char* reason = "";
        EXPECT_NE(parseCaptureLine(text.data() + at, end - at, &record, &reason),
                  CaptureLineKind::malformed)
            << reason << ": " << text.substr(at, end - at);
        at = end + 1;
    }
}

} // namespace

// The capture of a live session, decoded, gives every reply the client got,
// byte for byte: the decoder and the bridge take the same path.
TEST(Recorder, ALiveSessionDecodesToTheRepliesTheClientGot) {
    Session run("record-session");
    // Every fifth line has a bad checksum, noise comes before every line; the
    // last line is a good one, so that its reply says every line was read.
    const size_t lines = 32, rejected = 6;
    ASSERT_TRUE(run.startDevice({"--bad-checksum", "5", "--garbage", "5"}));
    const int lanPort = freePort();
    ASSERT_TRUE(run.startBridge(0, lanPort, 3));

    Client client;
    ASSERT_TRUE(client.connectTo(lanPort));
    ASSERT_TRUE(client.send(std::string(lines, 'D')));
    std::string replies;
    ASSERT_TRUE(client.receive(72 * (lines - rejected), &replies));
    // The client's normal end, then a stop while the server waits for the
    // next one: the log says "error" for both, the notes say what they are.
    client.close();
    std::string line;
    while (line != "Restart...." && run.bridge.readLine(&line)) {
    }
    while (line != "enable lan" && run.bridge.readLine(&line)) {
    }
    run.bridge.signal(SIGINT);
    EXPECT_EQ(run.bridge.waitExit(Bound(10000)), 0);
    const std::string errors = run.bridge.errors();
    EXPECT_NE(errors.find("\"Restart....\" here mean the LAN client ended its session"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("at this stop is no fault: the LAN server was waiting"),
              std::string::npos)
        << errors;

    const std::string text = run.capture();
    expectWholeLines(text);
    int status = -1;
    std::vector<std::string> decoded =
        decode(run.folder, "capture.txt", {"--lan-averaging", "3"}, &status);
    EXPECT_EQ(status, 0) << readFile(run.folder + "/decode.err");
    ASSERT_EQ(decoded.size(), lines);
    std::string expected;
    for (size_t i = 0; i < decoded.size(); ++i) {
        if (i % 5 == 4) {
            EXPECT_EQ(decoded[i], "rejected") << i;
            continue;
        }
        expected += decoded[i];
    }
    EXPECT_EQ(replies, expected);
}

// A recorded run with faults, played back with its timing, gives a second
// bridge the same lines, and its client the same replies.
TEST(Recorder, ATimedReplayOfARecordingGivesTheSameReplies) {
    // Every fifth synthetic line has a bad checksum; the last line is a good
    // one, so that its reply says every line was read.
    const int lines = 32, rejected = 6;
    auto session = [&](Session& run, std::vector<std::string> device, std::string* replies) {
        ASSERT_TRUE(run.startDevice(device));
        const int lanPort = freePort();
        ASSERT_TRUE(run.startBridge(0, lanPort, 4));
        Client client;
        ASSERT_TRUE(client.connectTo(lanPort));
        ASSERT_TRUE(client.send(std::string(lines, 'D')));
        ASSERT_TRUE(client.receive(72 * (lines - rejected), replies)) << run.bridge.errors();
        run.interrupt();
    };
    Session first("record-timed");
    std::string recorded;
    session(first, {"--bad-checksum", "5", "--garbage", "3", "--delay", "2"}, &recorded);
    const std::string capture = first.capture();
    expectWholeLines(capture);
    EXPECT_EQ(countRecords(capture), lines);

    Session second("replay-timed");
    std::string replayed;
    session(second, {"--replay", first.folder + "/capture.txt", "--timed"}, &replayed);
    EXPECT_EQ(replayed, recorded);
    EXPECT_EQ(countRecords(second.capture()), lines);
}

// Preset B: the streamed lines are recorded as read; Ctrl+C in the middle of
// it leaves whole lines; a second run appends and keeps the first.
TEST(Recorder, StreamedLinesAppendAndCtrlCLeavesWholeLines) {
    Session run("record-stream");
    ASSERT_TRUE(run.startDevice({"--stream", "500", "--bad-checksum", "4"}));
    ASSERT_TRUE(run.startBridge(1, 8096, 1));
    ASSERT_TRUE(waitForRecords(run, 20)) << run.bridge.errors();
    run.interrupt();
    const std::string first = run.capture();
    expectWholeLines(first);

    ASSERT_TRUE(run.startBridge(1, 8096, 1));
    ASSERT_TRUE(waitForRecords(run, countRecords(first) + 20)) << run.bridge.errors();
    run.interrupt();
    const std::string both = run.capture();
    EXPECT_EQ(both.compare(0, first.size(), first), 0) << "the first recording was changed";
    expectWholeLines(both);
    int status = -1;
    std::vector<std::string> decoded = decode(run.folder, "capture.txt", {}, &status);
    EXPECT_EQ(status, 0) << readFile(run.folder + "/decode.err");
    EXPECT_EQ(static_cast<int>(decoded.size()), countRecords(both));
}

// A file size limit stops the recording with one note; the bridge answers on
// and the file holds whole lines only.
TEST(Recorder, AFullDiskStopsOnlyTheRecording) {
    Session run("record-full");
    ASSERT_TRUE(run.startDevice({}));
    const int lanPort = freePort();
    // 16 blocks of 512 or 1024 bytes: the records of some fifty to two hundred lines.
    ASSERT_TRUE(run.startBridge(0, lanPort, 1, "ulimit -f 16"));
    Client client;
    ASSERT_TRUE(client.connectTo(lanPort));
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(client.send(std::string(100, 'D')));
        std::string replies;
        ASSERT_TRUE(client.receive(72 * 100, &replies)) << i;
    }
    run.interrupt();
    const std::string errors = run.bridge.errors();
    const std::string note = "tolvane-headless: cannot write to the capture capture.txt: ";
    EXPECT_NE(errors.find(note), std::string::npos) << errors;
    EXPECT_EQ(errors.find(note), errors.rfind(note)) << errors;
    const std::string text = run.capture();
    expectWholeLines(text);
    EXPECT_LE(text.size(), 16u * 1024u);
    EXPECT_GT(countRecords(text), 10);
    EXPECT_LT(countRecords(text), 400);
}

TEST(Recorder, AFileThatIsNoCaptureIsRefusedAndKept) {
    Session run("record-refuse");
    writeFile(run.folder + "/capture.txt", "my notes\n");
    ASSERT_TRUE(run.bridge.start({TOLVANE_HEADLESS, "--record", "capture.txt"}, run.folder,
                                 run.folder + "/headless.err"));
    EXPECT_EQ(run.bridge.waitExit(), 1);
    EXPECT_NE(run.bridge.errors().find("is not a tolvane capture"), std::string::npos)
        << run.bridge.errors();
    EXPECT_EQ(run.capture(), "my notes\n");
}
