#include "output/recorder/recorder.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "device/capture.h"
#include "output/recorder/recorder_file.h"
#include "text/number_text.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int queueRecords = 1024; // about ten seconds of lines at 100 a second
constexpr size_t noteSize = 400;

// One line, or (gap > 0) the count of lines dropped before the next one.
struct QueuedLine {
    int64_t microseconds;
    int length;
    long gap;
    char bytes[captureBytesMax];
};

struct Recorder {
    std::mutex lock{};
    std::condition_variable changed{};
    QueuedLine queue[queueRecords];
    int head = 0;
    int count = 0;
    long dropped = 0; // since the last line queued
    bool recording = false;
    bool stopping = false;
    bool ended = false;
    Clock::time_point started{};
    std::thread writer{};
    RecorderFile file{};
    RecorderNote note = nullptr;
    char path[512] = "";
};

Recorder recorder;

void say(const char* text) {
    if (recorder.note != nullptr) recorder.note(text);
}

// Called once: after a failed append nothing more is written.
void sayWriteFailure(int error) {
    char text[noteSize];
    TextBuilder out(text, sizeof text);
    out.append("tolvane-headless: cannot write to the capture ");
    out.append(recorder.path);
    out.append(": ");
    out.append(std::strerror(error));
    out.append(": recording stopped here, the bridge goes on; the lines recorded so far are "
               "whole (free some space and start the bridge again to record on)");
    say(text);
}

// Runs on the writer's thread; the file is its alone.
void writeRecords() {
    char text[captureRecordTextMax];
    bool failed = false;
    std::unique_lock<std::mutex> guard(recorder.lock);
    for (;;) {
        recorder.changed.wait(guard, [] { return recorder.count > 0 || recorder.stopping; });
        if (recorder.count == 0) break;
        const QueuedLine line = recorder.queue[recorder.head];
        recorder.head = (recorder.head + 1) % queueRecords;
        --recorder.count;
        guard.unlock();

        size_t length = 0;
        if (line.gap > 0) {
            TextBuilder comment(text, sizeof text);
            comment.append("# ");
            comment.appendInteger(line.gap);
            comment.append(" device lines not recorded here: the recorder fell behind\n");
            length = comment.length;
        } else {
            length = formatCaptureRecord(line.microseconds, line.bytes,
                                         static_cast<size_t>(line.length), text, sizeof text);
        }
        int error = 0;
        if (!failed && length > 0 && !appendRecorderFile(&recorder.file, text, length, &error)) {
            failed = true;
            sayWriteFailure(error);
        }
        guard.lock();
    }
    recorder.ended = true;
    guard.unlock();
    recorder.changed.notify_all();
}

// Queues one entry; a gap of dropped lines goes in first, as its own entry,
// once there is room again.
bool queueLocked(const QueuedLine& line) {
    if (recorder.count == queueRecords) return false;
    recorder.queue[(recorder.head + recorder.count) % queueRecords] = line;
    ++recorder.count;
    return true;
}

OutputOutcome recordLine(const LinePass& pass) {
    if (pass.length <= 0) return {};
    {
        std::lock_guard<std::mutex> guard(recorder.lock);
        if (!recorder.recording || recorder.stopping) return {};
        if (recorder.dropped > 0) {
            // Room for the gap and the line, or the line counts as dropped too.
            if (recorder.count + 2 > queueRecords) {
                ++recorder.dropped;
                return {};
            }
            QueuedLine gap{0, 0, recorder.dropped, {}};
            queueLocked(gap);
            recorder.dropped = 0;
        }
        QueuedLine line;
        line.gap = 0;
        const auto since = pass.received - recorder.started;
        line.microseconds =
            since.count() < 0
                ? 0
                : std::chrono::duration_cast<std::chrono::microseconds>(since).count();
        line.length = pass.length < static_cast<int>(captureBytesMax)
                          ? pass.length
                          : static_cast<int>(captureBytesMax);
        std::memcpy(line.bytes, pass.line, static_cast<size_t>(line.length));
        if (!queueLocked(line)) {
            ++recorder.dropped;
            return {};
        }
    }
    recorder.changed.notify_all();
    return {};
}

void setReason(char* reason, size_t size, const char* path, const char* what, const char* todo) {
    TextBuilder out(reason, size);
    out.append("cannot record to ");
    out.append(path);
    out.append(": ");
    out.append(what);
    out.append(todo);
}

// An existing file must be a capture already; it may end in a cut line when
// something else wrote it last, which a new line must not join.
bool checkExisting(const char* path, bool* needsHeader, bool* needsLineEnd, char* reason,
                   size_t size) {
    *needsHeader = true;
    *needsLineEnd = false;
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return true; // created by the append
    char first[sizeof captureHeader + 1];
    size_t length = 0;
    bool cut = false;
    const bool any = readTextLine(f, first, sizeof first, &length, &cut);
    int last = -1;
    if (any && std::fseek(f, -1, SEEK_END) == 0) last = std::fgetc(f);
    std::fclose(f);
    if (!any) return true;
    if (cut || !isCaptureHeader(first, length)) {
        setReason(reason, size, path,
                  "the file exists and is not a tolvane capture (its first line is not \"# "
                  "tolvane capture 1\")",
                  ": name a new file, or a capture to append to");
        return false;
    }
    *needsHeader = false;
    *needsLineEnd = last != '\n';
    return true;
}

} // namespace

const LineOutput recorderOutput = {
    .pass = recordLine,
};

bool startRecorder(const char* path, RecorderNote note, char* reason, size_t reasonSize) {
    bool needsHeader = false, needsLineEnd = false;
    if (!checkExisting(path, &needsHeader, &needsLineEnd, reason, reasonSize)) return false;
    int error = 0;
    if (!openRecorderFile(path, &recorder.file, &error)) {
        setReason(reason, reasonSize, path, std::strerror(error),
                  ": check the folder exists and that you may write there");
        return false;
    }
    char text[128];
    TextBuilder start(text, sizeof text);
    if (needsLineEnd) start.append("\n");
    start.append(needsHeader ? captureHeader : "# appended: the times below count from 0 again");
    start.append("\n");
    if (!appendRecorderFile(&recorder.file, text, start.length, &error)) {
        setReason(reason, reasonSize, path, std::strerror(error),
                  ": free some space or name another file");
        closeRecorderFile(&recorder.file);
        return false;
    }
    copyText(recorder.path, sizeof recorder.path, path);
    recorder.note = note;
    recorder.head = recorder.count = 0;
    recorder.dropped = 0;
    recorder.stopping = recorder.ended = false;
    recorder.started = Clock::now();
    try {
        recorder.writer = std::thread(writeRecords);
    } catch (const std::system_error&) {
        setReason(reason, reasonSize, path, "no thread could be started for the recorder", "");
        closeRecorderFile(&recorder.file);
        return false;
    }
    std::lock_guard<std::mutex> guard(recorder.lock);
    recorder.recording = true;
    return true;
}

bool stopRecorder(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> guard(recorder.lock);
    if (!recorder.writer.joinable()) return true;
    recorder.stopping = true;
    recorder.changed.notify_all();
    const bool ended = recorder.changed.wait_for(guard, bound, [] { return recorder.ended; });
    recorder.recording = false;
    guard.unlock();
    if (!ended) return false;
    recorder.writer.join();
    closeRecorderFile(&recorder.file);
    return true;
}
