// The recorder through the real programs: what the bridge records decodes to
// the replies it sent, both presets are recorded, and neither a full disk nor
// Ctrl+C leaves half a line; its start never waits on what the path names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

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
    std::string record = "capture.txt"; // what startBridge records to

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
        const std::string command = std::string(TOLVANE_HEADLESS) + " --record " + record;
        if (shellPrefix.empty())
            return bridge.start({TOLVANE_HEADLESS, "--record", record}, folder,
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

namespace {

// A bridge on a port that does not exist: it retries the open every three
// seconds, and its first log line says start-up is over.
bool startIdleBridge(const Session& run, Child& bridge, const std::string& record,
                     const ChildSetup& setup = {}) {
    writeFile(run.folder + "/tolv.conf",
              run.folder + "/no-such-port\n1.000000\n4\n32\n1\n8096\n0\n2\n0\n0\n0\n");
    return bridge.start({TOLVANE_HEADLESS, "--record", record}, run.folder,
                        run.folder + "/headless.err", setup);
}

bool startedUp(Child& bridge) {
    std::string line;
    return bridge.readLine(&line) && line.rfind("open serial (", 0) == 0;
}

} // namespace

// A FIFO is written as a stream, so that a capture can be decoded as it is
// made; without a reader, and on a device, the start never waits, and
// SIGTERM ends the bridge.
TEST(RecorderStart, AFifoIsDecodedLiveAndNothingHoldsTheStart) {
    Session run("record-fifo");
    const std::string fifo = run.folder + "/live";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    // Nobody reads it yet: refused at once, with what to do.
    Child early;
    ASSERT_TRUE(startIdleBridge(run, early, "live"));
    EXPECT_EQ(early.waitExit(Bound(10000)), 1);
    EXPECT_NE(early.errors().find("cannot record to live: nothing reads it"), std::string::npos)
        << early.errors();

    // Its reader first: the decoder prints the lines while the bridge records.
    // A read end held here as well makes "a reader" true however late the
    // decoder opens its own; it reads what waits in the pipe then.
    const int held = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(held, 0);
    Child decoder;
    ASSERT_TRUE(decoder.start({TOLVANE_DECODE, "live"}, run.folder, run.folder + "/decode.err"));
    ASSERT_TRUE(run.startDevice({"--stream", "200"}));
    run.record = "live";
    ASSERT_TRUE(run.startBridge(1, 8096, 1));
    std::string line;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(decoder.readLine(&line)) << i << run.bridge.errors();
        EXPECT_EQ(line.find("rejected"), std::string::npos) << line;
    }
    run.bridge.signal(SIGTERM);
    EXPECT_EQ(run.bridge.waitExit(Bound(10000)), 0) << run.bridge.errors();
    while (decoder.readLine(&line)) {
    }
    EXPECT_EQ(decoder.waitExit(), 0) << readFile(run.folder + "/decode.err");
    close(held);

    // A character device is a stream too.
    Child onDevice;
    ASSERT_TRUE(startIdleBridge(run, onDevice, "/dev/null"));
    ASSERT_TRUE(startedUp(onDevice)) << onDevice.errors();
    onDevice.signal(SIGTERM);
    EXPECT_EQ(onDevice.waitExit(Bound(10000)), 0) << onDevice.errors();
}

// An existing file is appended to only when its first line, read within a
// bound, says it is a capture; what the bridge cannot read it does not touch.
TEST(RecorderStart, AnExistingFileIsCheckedWithoutReadingItWhole) {
    const passwd* nobody = getpwnam("nobody");
    struct Case {
        const char* what;
        std::string before;
        bool unreadable;
        const char* refusal; // nullptr: appended to
    } cases[] = {
        {"capture with CR LF", "# tolvane capture 1\r\n0.000000 T\r\n", false, nullptr},
        {"capture with a cut line", "# tolvane capture 1\n0.000000 T", false, nullptr},
        {"large file, one line", std::string(4 << 20, 'x'), false, "is not a tolvane capture"},
        {"header without its line end, then more", "# tolvane capture 1 and more", false,
         "is not a tolvane capture"},
        {"capture nobody may read", "# tolvane capture 1\n", true, "cannot be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Session run("record-existing");
        const std::string path = run.folder + "/capture.txt";
        writeFile(path, c.before);
        ChildSetup setup;
        if (c.unreadable) {
            // Root reads whatever the mode: the bridge then runs as nobody.
            if (geteuid() == 0) {
                if (nobody == nullptr) {
                    std::printf("skipped: no user nobody to be the reader as root\n");
                    continue;
                }
                ASSERT_EQ(chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
                ASSERT_EQ(chmod(run.folder.c_str(), 0755), 0);
                setup.user = nobody->pw_uid;
                setup.group = nobody->pw_gid;
            }
            ASSERT_EQ(chmod(path.c_str(), 0200), 0);
        }
        ASSERT_TRUE(startIdleBridge(run, run.bridge, "capture.txt", setup));
        if (c.refusal != nullptr) {
            EXPECT_EQ(run.bridge.waitExit(Bound(10000)), 1);
            EXPECT_NE(run.bridge.errors().find(c.refusal), std::string::npos)
                << run.bridge.errors();
            chmod(path.c_str(), 0600);
            EXPECT_TRUE(run.capture() == c.before) << "the file was changed";
            continue;
        }
        ASSERT_TRUE(startedUp(run.bridge)) << run.bridge.errors();
        run.interrupt();
        const std::string after = run.capture();
        EXPECT_EQ(after.compare(0, c.before.size(), c.before), 0) << after;
        const std::string tail = after.substr(c.before.size());
        EXPECT_EQ(tail,
                  (c.before.back() == '\n' ? "" : "\n") + std::string(captureAppendedLine) + "\n");
    }
}
