// The measurement worker against scripted serial and LAN stand-ins: exact
// call and log sequences, stop tests and exit codes, the Run and shutdown
// sequences.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "device/serial_port.h"
#include "measurement/event_log.h"
#include "measurement/output_list.h"
#include "measurement/worker.h"
#include "motion/averaging.h"
#include "output/lan/lan_server.h"
#include "output/hand/air_mouse.h"
#include "protocol/line_step.h"
#include "settings/settings.h"
#include "settings/stop_request.h"
#include "tests/support/device_lines.h"
#include "tests/support/handles.h"
#include "tests/support/worker_fakes.h"

#if defined(__linux__)
#include <ctime>
#endif
#ifdef _WIN32
#include <winsock2.h>
#endif

using namespace std::chrono_literals;
using Trace = std::vector<std::string>;

namespace {

const std::string goodLineA = deviceLine(0.0f, 0.0f, 0.0f, 1.0f, "10000");
const std::string goodLineB = deviceLine(0.0f, 0.0871557f, 0.0f, 0.9961947f, "00000");
const std::string badLine = withWrongChecksum(deviceLine(0.0f, 0.0f, 0.0f, 1.0f, "00000"));

// One worker on its own thread, so that its exit code can be read.
struct WorkerRun {
    std::packaged_task<unsigned()> task{measurementWorker};
    std::future<unsigned> result = task.get_future();
    std::thread thread{std::move(task)};

    // Ends the worker the way the shutdown sequence does; a worker that does
    // not end within the bound fails the whole program instead of hanging it.
    unsigned stop(bool closeAll = true) {
        requestStop();
        if (closeAll) {
            closeSerialPort();
            closeClientSocket();
            closeListenSocket();
        }
        return join();
    }
    unsigned join() {
        if (result.wait_for(20s) != std::future_status::ready) {
            ADD_FAILURE() << "worker did not end";
            std::abort();
        }
        thread.join();
        return result.get();
    }
};

void freshSettings() {
    setDefaults();
    screenWidth = 1920;
    screenHeight = 1080;
    setComPort("COM7");
    stopRequested = false;
    mouseWindow.count = 0;
    lanWindow.count = 0;
    clearLog();
}

void presetC(bool webSocket, bool mouse) {
    settings.deviceMode = 0;
    settings.lanEnabled = 1;
    settings.webSocketEnabled = webSocket ? 1 : 0;
    settings.mouseEnabled = mouse ? 1 : 0;
}

std::string logText() {
    char text[eventLogTextSize];
    buildLogText(text);
    return text;
}

// The entries that follow the first occurrence of `from`, up to `length` of them.
Trace after(const Trace& trace, const std::string& from, size_t length) {
    for (size_t i = 0; i < trace.size(); ++i)
        if (trace[i] == from) {
            size_t end = std::min(trace.size(), i + 1 + length);
            return Trace(trace.begin() + static_cast<long>(i) + 1,
                         trace.begin() + static_cast<long>(end));
        }
    return {};
}

int logLines(const Trace& trace) {
    int n = 0;
    for (const auto& e : trace)
        n += e.rfind("log ", 0) == 0 ? 1 : 0;
    return n;
}

// The air mouse is on for the first line only: once that line has been
// read the worker is past every stop test that ends it with 1 and goes on
// with idle passes (mouse off, no client).
FakeWorld idleWorld() {
    FakeWorld world;
    world.lines = {goodLineA};
    world.afterLineRead = [] { settings.mouseEnabled = 0; };
    return world;
}

} // namespace

TEST(WorkerSequence, WebSocketSessionUntilTheClientLeavesAndTheNextCycle) {
    freshSettings();
    presetC(true, true);
    FakeWorld world;
    world.lanOpens = {1};
    world.requests = {'D', 'x', 'D', 'D', -1};
    world.lines = {goodLineA, badLine, goodLineB};
    resetFakes(world);

    WorkerRun worker;
    ASSERT_TRUE(waitForEntry("accept")); // the next cycle's listener
    const Trace expected = {
        "open serial", "log open serial (COM7) :  success", "paint", "log enable lan", "paint",
        "log enable websocket", "paint", "log enable mouse", "paint", "open lan",
        "log OpenSocket port(8096) : success", "paint",
        // "D" with a good line: reply, then the air mouse
        "request D", "poll", "read line", "send", "cursor 960,540", "event 8002 0",
        // a request other than "D": nothing at all
        "request x",
        // a rejected line: no reply
        "request D", "poll", "read line", "request D", "poll", "read line", "send",
        "cursor 792,540", "event 8004 0",
        // the client leaves
        "read request failed", "log ReadSocket error", "paint", "close serial", "close client",
        "close listen", "log Restart....", "paint",
        // three seconds later, an emptied log and a new cycle
        "open serial", "log open serial (COM7) :  success", "paint", "log enable lan", "paint",
        "log enable websocket", "paint", "log enable mouse", "paint", "accept"};
    EXPECT_EQ(traceCopy(), expected);
    EXPECT_EQ(logText(), "open serial (COM7) :  success\nenable lan\nenable websocket\n"
                         "enable mouse\n");
    ASSERT_EQ(fakeReplies().size(), 2u);
    EXPECT_EQ(fakeReplies()[0], " 0.00000, 0.00000, 0.00000, 1.00000,10000");
    // lanAveraging 1: the second reply is the second line alone
    EXPECT_EQ(fakeReplies()[1], " 0.00000, 0.08716, 0.00000, 0.99619,00000");
    // a restart keeps the windows
    EXPECT_EQ(mouseWindow.count.load(), 2);

    // A stop in accept releases the worker through the closed listener.
    EXPECT_EQ(worker.stop(), 1u);
    Trace tail = after(traceCopy(), "accept", 10);
    EXPECT_EQ(tail, (Trace{"close serial", "close listen", "open lan failed",
                           "log OpenSocket port(8096) : error", "paint"}));
}

TEST(WorkerSequence, PlainLoopErrorsEachRestartTheCycle) {
    struct Case {
        const char* name;
        std::deque<bool> polls;
        std::deque<bool> sends;
        std::deque<std::string> lines;
        const char* message;
    };
    const Case cases[] = {
        {"poll", {false}, {}, {goodLineA}, "log WritePort error"},
        {"line", {}, {}, {}, "log ReadPort error"},
        {"send", {}, {false}, {goodLineA}, "log WriteSocket error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshSettings();
        presetC(false, false);
        FakeWorld world;
        world.lanOpens = {1};
        world.requests = {'D'};
        world.pollResults = c.polls;
        world.sendResults = c.sends;
        world.lines = c.lines;
        resetFakes(world);
        WorkerRun worker;
        ASSERT_TRUE(waitForEntry("log Restart...."));
        // Loop errors are logged without a paint of their own; the restart paints once.
        Trace tail = after(traceCopy(), c.message, 5);
        EXPECT_EQ(tail, (Trace{"paint", "close serial", "close client", "close listen",
                               "log Restart...."}));
        // A stop in the restart pause ends the worker there: no open after it.
        EXPECT_EQ(worker.stop(false), 1u);
        Trace last = after(traceCopy(), "log Restart....", 10);
        EXPECT_EQ(last, (Trace{"paint"}));
    }
}

TEST(WorkerSequence, NoDeviceLogsAnOpenErrorPerPauseAndEndsWithCodeOne) {
    freshSettings();
    FakeWorld world;
    world.serialOpenDefault = false;
    resetFakes(world);
    WorkerRun worker;
    ASSERT_TRUE(waitForEntry("open serial failed", 2));
    EXPECT_EQ(worker.stop(), 1u);
    Trace trace = traceCopy();
    // Nothing after the pause that the stop cut short.
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(Trace(trace.end() - 3, trace.end()),
              (Trace{"open serial failed", "log open serial (COM7) :  error", "paint"}));
    EXPECT_LE(countEntries(trace, "open serial failed"), 3);
}

TEST(WorkerShapes, DefaultPresetWithLanEnabledPollsWithoutAServer) {
    freshSettings();
    settings.deviceMode = 2;
    settings.lanEnabled = 1;
    settings.webSocketEnabled = 1;
    FakeWorld world;
    world.lines = {goodLineA, goodLineB};
    resetFakes(world);
    WorkerRun worker;
    ASSERT_TRUE(waitForEntry("log Restart...."));
    EXPECT_EQ(worker.stop(), 1u);
    Trace trace = traceCopy();
    EXPECT_EQ(
        after(trace, "paint", 11),
        (Trace{"log enable mouse", "paint", "poll", "read line", "cursor 960,540", "event 8002 0",
               "poll", "read line", "cursor 792,540", "event 8004 0", "poll"}));
    EXPECT_EQ(countEntries(trace, "accept") + countEntries(trace, "open lan"), 0);
    EXPECT_EQ(countEntries(trace, "log enable lan"), 0);
    EXPECT_EQ(lanWindow.count.load(), 0); // free-running passes leave it alone
}

TEST(WorkerShapes, PresetBNeverWritesToTheDevice) {
    freshSettings();
    settings.deviceMode = 1;
    settings.lanEnabled = 1;
    FakeWorld world;
    world.lines = {goodLineA, badLine, goodLineB};
    resetFakes(world);
    WorkerRun worker;
    ASSERT_TRUE(waitForEntry("log Restart...."));
    EXPECT_EQ(worker.stop(), 1u);
    Trace trace = traceCopy();
    EXPECT_EQ(countEntries(trace, "poll") + countEntries(trace, "poll failed"), 0);
    EXPECT_EQ(countEntries(trace, "read line"), 3);
    EXPECT_EQ(countEntries(trace, "cursor 960,540") + countEntries(trace, "cursor 792,540"), 2);
    EXPECT_EQ(countEntries(trace, "log ReadPort error"), 1);
}

#if defined(__linux__)
namespace {
double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}
} // namespace
#endif

TEST(WorkerShapes, IdlePassesWaitForTheStopInsteadOfSpinning) {
    freshSettings();
    resetFakes(idleWorld());
    {
        WorkerRun worker;
        ASSERT_TRUE(waitForEntry("read line"));
#if defined(__linux__)
        // A spinning worker would burn about as much processor time as passes.
        double before = processCpuSeconds();
        std::this_thread::sleep_for(400ms);
        EXPECT_LT(processCpuSeconds() - before, 0.2);
#endif
        EXPECT_EQ(worker.stop(false), 0u);
        EXPECT_EQ(traceCopy(), (Trace{"open serial", "log open serial (COM7) :  success", "paint",
                                      "log enable mouse", "paint", "poll", "read line"}));
    }
    // A flag written directly (as the settings dialog may) ends it as well.
    closeSerialPort();
    freshSettings();
    resetFakes(idleWorld());
    WorkerRun worker;
    ASSERT_TRUE(waitForEntry("read line"));
    stopRequested = true;
    EXPECT_EQ(worker.join(), 0u);
    EXPECT_TRUE(fakePortOpen()); // left to whoever set the flag
    closeSerialPort();
}

TEST(WorkerLan, AFailedOpenIsRetriedAfterAPauseNotAtOnce) {
    freshSettings();
    presetC(false, false);
    FakeWorld world;
    world.lanOpenDefault = 0;
    resetFakes(world);
    WorkerRun worker;
    ASSERT_TRUE(waitForEntry("open lan failed"));
    // A busy retry would make thousands of attempts in this time.
    std::this_thread::sleep_for(500ms);
    EXPECT_LE(countEntries(traceCopy(), "open lan failed"), 2);
    EXPECT_EQ(worker.stop(), 1u);
    Trace trace = traceCopy();
    EXPECT_EQ(after(trace, "open lan failed", 2),
              (Trace{"log OpenSocket port(8096) : error", "paint"}));
    EXPECT_EQ(countEntries(trace, "log OpenSocket port(8096) : error"),
              countEntries(trace, "open lan failed"));
}

TEST(WorkerLan, LanPortIsLoggedInFull) {
    freshSettings();
    presetC(false, false);
    settings.lanPort = 70000;
    FakeWorld world;
    world.lanOpens = {1};
    resetFakes(world);
    WorkerRun worker;
    ASSERT_TRUE(waitForEntry("wait request"));
    EXPECT_EQ(worker.stop(), 0u);
    EXPECT_EQ(countEntries(traceCopy(), "log OpenSocket port(70000) : success"), 1);
}

TEST(WorkerStop, AFlagAloneEndsAClientDrivenLoopAfterTheNextRequest) {
    freshSettings();
    presetC(false, true);
    FakeWorld world;
    world.lanOpens = {1};
    resetFakes(world);
    WorkerRun worker;
    ASSERT_TRUE(waitForEntry("wait request"));
    stopRequested = true; // the settings dialog closes nothing
    editFakes([](FakeWorld& w) {
        w.lines.push_back(goodLineA);
        w.requests.push_back('D');
    });
    EXPECT_EQ(worker.join(), 0u);
    Trace trace = traceCopy();
    EXPECT_EQ(after(trace, "wait request", 6),
              (Trace{"request D", "poll", "read line", "send", "cursor 960,540", "event 8002 0"}));
    EXPECT_EQ(countEntries(trace, "log Restart...."), 0);
    EXPECT_TRUE(fakeClientOpen() && fakeListenOpen() && fakePortOpen());
    closeClientSocket();
    closeListenSocket();
    closeSerialPort();
}

TEST(WorkerStop, EveryBlockingStateEndsOnceClosedAndLogsNothingAfterTheFlag) {
    struct Case {
        const char* name;
        void (*script)(FakeWorld&);
        const char* state; // trace entry that shows the worker is there
        unsigned code;
    };
    const Case cases[] = {
        {"serial open pause", [](FakeWorld& w) { w.serialOpenDefault = false; },
         "open serial failed", 1},
        {"accept", [](FakeWorld& w) { w.lanOpenDefault = -1; }, "accept", 1},
        {"request read", [](FakeWorld& w) { w.lanOpens = {1}; }, "wait request", 0},
        {"device read",
         [](FakeWorld& w) {
             w.lanOpens = {1};
             w.requests = {'D'};
             w.lineReadBlocks = true;
         },
         "poll", 0},
        {"idle", [](FakeWorld& w) { w = idleWorld(); }, "read line", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshSettings();
        if (std::string(c.name) != "idle") presetC(false, true);
        FakeWorld world;
        c.script(world);
        resetFakes(world);
        WorkerRun worker;
        ASSERT_TRUE(waitForEntry(c.state));
        size_t before = traceCopy().size();
        EXPECT_EQ(worker.stop(), c.code);
        Trace trace = traceCopy();
        Trace tail(trace.begin() + static_cast<long>(before), trace.end());
        // At most the result of the call that the close released is logged.
        EXPECT_LE(logLines(tail), 1);
        EXPECT_EQ(countEntries(trace, "log Restart...."), 0);
        EXPECT_FALSE(fakePortOpen() || fakeListenOpen() || fakeClientOpen());
    }
}

TEST(RunSequence, EachRunReplacesTheWorkerAndStartsFromEmptyWindowsAndLog) {
    freshSettings();
    settings.deviceMode = 1;
    FakeWorld world;
    world.lines = {goodLineA, goodLineA, goodLineA};
    world.lineReadBlocks = true;
    resetFakes(world);
    ASSERT_FALSE(workerRecorded());
    runMeasurement();
    EXPECT_TRUE(workerRecorded());
    ASSERT_TRUE(waitForEntry("cursor 960,540", 3)); // then blocked on the silent device
    ASSERT_TRUE(waitForBlockedLineRead(std::chrono::seconds(15)));
    EXPECT_EQ(mouseWindow.count.load(), 3);

    editFakes([](FakeWorld& w) { w.lines = {goodLineB}; });
    // The first worker is blocked until Run closes its port.
    runMeasurement();
    ASSERT_TRUE(waitForEntry("cursor 621,540"));
    EXPECT_EQ(mouseWindow.count.load(), 1);
    Trace trace = traceCopy();
    EXPECT_EQ(countEntries(trace, "open serial"), 2);
    EXPECT_EQ(countEntries(trace, "close serial"), 1);
    EXPECT_EQ(logText(), "open serial (COM7) :  success\nenable mouse\n");

    shutdownMeasurement();
    EXPECT_FALSE(workerRecorded());
    EXPECT_FALSE(fakePortOpen());
    EXPECT_EQ(countEntries(traceCopy(), "close serial"), 2);
    EXPECT_EQ(countEntries(traceCopy(), "log Restart...."), 0);
}

TEST(RunSequence, RunDuringTheRestartPauseLeavesThePortToTheNewWorker) {
    freshSettings();
    FakeWorld world; // polled, mouse on, no line: ReadPort error at once
    resetFakes(world);
    runMeasurement();
    ASSERT_TRUE(waitForEntry("log Restart...."));
    editFakes([](FakeWorld& w) { w.lineReadBlocks = true; });
    // The old worker wakes, opens the port once more and ends at its stop
    // test; the new one must still get the port.
    runMeasurement();
    ASSERT_TRUE(waitForEntry("log enable mouse", 2));
    Trace trace = traceCopy();
    EXPECT_EQ(countEntries(trace, "open serial failed"), 0);
    EXPECT_EQ(logText(), "open serial (COM7) :  success\nenable mouse\n");
    shutdownMeasurement();
    EXPECT_FALSE(fakePortOpen());
}

// Every output of the list, driven hook by hook as the worker drives it and
// with every output switched on: a pass that asks for a restart ends there
// and says why; a stop from another thread returns, and a restart after it
// closes nothing twice; after finish, nothing the output opened is left open.
TEST(OutputContract, EveryOutputOfTheListKeepsIt) {
#ifdef _WIN32
    // The shells start Winsock; this test stands in for them.
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
#endif
    freshSettings();
    presetC(false, true);
    setUdpTarget("127.0.0.1:9");
    // No LAN client: a reply fails, as a client that has gone makes it fail.
    resetFakes(FakeWorld{});
    LineState state{&mouseWindow, &lanWindow};
    for (int i = 0; i < workerOutputCount; ++i) {
        SCOPED_TRACE("output " + std::to_string(i) + " of the list");
        const LineOutput& output = *workerOutputs[i];
        const int handles = openHandleCount();
        if (output.prepare) output.prepare();
        for (int cycle = 0; cycle < 2; ++cycle) {
            if (output.begin) output.begin();
            for (int n = 0; n < 5 && output.pass != nullptr; ++n) {
                LinePass pass = stepLine(state, LineStepSettings{}, goodLineA.c_str(),
                                         static_cast<int>(goodLineA.size()));
                pass.requested = true;
                const OutputOutcome outcome = output.pass(pass);
                // A quiet client between two passes: an output that holds
                // something lets go, and says so on its own thread.
                if (output.holding && output.holding() && output.lapse) output.lapse();
                if (!outcome.restart) continue;
                EXPECT_NE(outcome.why, WorkerEventKind::restart) << "a restart without a reason";
                break;
            }
            if (output.restart) output.restart();
        }
        if (output.stop) {
            auto stopped = std::async(std::launch::async, output.stop);
            ASSERT_EQ(stopped.wait_for(10s), std::future_status::ready) << "stop did not return";
        }
        if (output.restart) output.restart();
        if (output.finish) output.finish();
        EXPECT_EQ(openHandleCount(), handles) << "left open after finish";
    }
    setUdpTarget("");
    settings.mouseEnabled = 0;
}

TEST(RunSequence, ShutdownWithoutAWorkerOnlyClosesWhatIsOpen) {
    freshSettings();
    resetFakes(FakeWorld{});
    shutdownMeasurement();
    EXPECT_FALSE(workerRecorded());
    EXPECT_TRUE(stopRequested.load());
    EXPECT_TRUE(traceCopy().empty());
}

TEST(WorkerRestart, AHeldButtonIsPressedAgainAndTheScreenDistanceStaysPerWorker) {
    freshSettings();
    settings.deviceMode = 1;
    FakeWorld world;
    world.lines = {goodLineA};
    resetFakes(world);
    WorkerRun worker;
    ASSERT_TRUE(waitForEntry("log Restart...."));
    // Taken only when the next worker starts, not at a restart.
    settings.screenDistance = 2.0f;
    const std::string heldAndTurned = deviceLine(0.0f, 0.0871557f, 0.0f, 0.9961947f, "10000");
    editFakes([&](FakeWorld& w) {
        w.lines = {heldAndTurned};
        w.lineReadBlocks = true;
    });
    ASSERT_TRUE(waitForEntry("event 8002 0", 2));
    EXPECT_EQ(worker.stop(), 0u);
    Trace trace = traceCopy();
    // A and the turned line average to half the turn, still at distance 1
    EXPECT_EQ(after(trace, "log Restart....", 9),
              (Trace{"paint", "open serial", "log open serial (COM7) :  success", "paint",
                     "log enable mouse", "paint", "read line", "cursor 792,540", "event 8002 0"}));
    EXPECT_EQ(mouseWindow.count.load(), 2);
}
