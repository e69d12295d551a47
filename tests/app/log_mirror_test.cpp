// The log mirror against a stand-in writer whose standard output can be made
// to hang, as a pipe nobody reads does.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "app/headless/log_mirror.h"

using namespace std::chrono_literals;

namespace {

struct Streams {
    std::mutex lock;
    std::condition_variable changed;
    bool outputHangs = false;
    bool outputFails = false;
    bool inWrite = false;
    std::vector<std::string> output, errors;

    // Waits (bounded) until the condition holds.
    template <typename Condition> bool await(Condition condition) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, 10s, condition);
    }
    void release() {
        std::lock_guard<std::mutex> guard(lock);
        outputHangs = false;
        changed.notify_all();
    }
} streams;

bool standIn(StandardStream stream, const char* data, size_t size) {
    std::unique_lock<std::mutex> guard(streams.lock);
    std::string line(data, size);
    if (stream == StandardStream::errors) {
        streams.errors.push_back(line);
    } else {
        streams.inWrite = true;
        streams.changed.notify_all();
        streams.changed.wait(guard, [] { return !streams.outputHangs; });
        streams.inWrite = false;
        if (streams.outputFails) return false;
        streams.output.push_back(line);
    }
    streams.changed.notify_all();
    return true;
}

void startWith(bool hangs, bool fails = false) {
    {
        std::lock_guard<std::mutex> guard(streams.lock);
        streams.outputHangs = hangs;
        streams.outputFails = fails;
        streams.output.clear();
        streams.errors.clear();
    }
    startLogMirror(standIn);
}

} // namespace

TEST(LogMirror, AHangingOutputLosesOnlyWhatOverflowsAndSaysWhereLater) {
    startWith(true);
    mirrorLine(StandardStream::output, "held in the write");
    ASSERT_TRUE(streams.await([] { return streams.inWrite; }));
    for (int i = 0; i < outputQueueLines + 10; ++i)
        mirrorLine(StandardStream::output, ("line " + std::to_string(i)).c_str());
    // Notes go on while the output hangs.
    mirrorLine(StandardStream::errors, "a note");
    ASSERT_TRUE(streams.await([] { return streams.errors.size() == 1; }));
    EXPECT_TRUE(streams.output.empty());

    streams.release();
    EXPECT_TRUE(stopLogMirror(10s));
    ASSERT_EQ(streams.output.size(), size_t(outputQueueLines + 1));
    EXPECT_EQ(streams.output.front(), "held in the write\n");
    EXPECT_EQ(streams.output.back(), "line " + std::to_string(outputQueueLines - 1) + "\n");
    EXPECT_EQ(streams.errors, (std::vector<std::string>{
                                  "a note\n", "tolvane-headless: 10 event-log lines dropped here: "
                                              "standard output was not read for a while\n"}));
    // After the stop nothing more is taken.
    mirrorLine(StandardStream::output, "late");
    EXPECT_EQ(streams.output.size(), size_t(outputQueueLines + 1));
}

TEST(LogMirror, AStopEndsWhileAWriteHangsAndAFailingOutputIsSaidOnce) {
    startWith(true);
    mirrorLine(StandardStream::output, "never out");
    mirrorLine(StandardStream::output, "queued behind it");
    ASSERT_TRUE(streams.await([] { return streams.inWrite; }));
    EXPECT_FALSE(stopLogMirror(100ms));
    // The note's writer may still be on its way when the stop gives up on it.
    ASSERT_TRUE(streams.await([] { return !streams.errors.empty(); }));
    EXPECT_EQ(streams.errors, (std::vector<std::string>{
                                  "tolvane-headless: standard output is not being read: the last "
                                  "2 event-log lines were not written\n"}));
    // Released, the writer still drains its queue, then ends; the next start joins it.
    streams.release();
    ASSERT_TRUE(streams.await([] { return streams.output.size() == 2; }));

    startWith(false, true);
    for (int i = 0; i < 3; ++i)
        mirrorLine(StandardStream::output, "lost");
    EXPECT_TRUE(stopLogMirror(10s));
    EXPECT_EQ(streams.errors,
              (std::vector<std::string>{"tolvane-headless: standard output cannot be written any "
                                        "more: the event log is not printed from here on\n"}));
}
