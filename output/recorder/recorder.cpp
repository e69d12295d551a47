#include "output/recorder/recorder.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "device/capture.h"
#include "output/recorder/recorder_file.h"
#include "protocol/output_note.h"
#include "text/number_text.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int queueRecords = 1024; // about ten seconds of lines at 100 a second

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
    char path[512] = "";
    char opening[128] = ""; // a stream's first line, for the writer to send
    size_t openingLength = 0;
};

Recorder recorder;

// Called once: after a failed append nothing more is written.
void sayWriteFailure(int error) {
    sayNote("recorder", NoteLevel::problem, "cannot write to the capture %s: %s: %s", recorder.path,
            std::strerror(error),
            recorder.file.kind == RecorderFileKind::regular
                ? "recording stopped here, the bridge goes on; the lines recorded so far are "
                  "whole (free some space and start the bridge again to record on)"
                : "recording stopped here, the bridge goes on (did its reader end? start the "
                  "reader and the bridge again to record on)");
}

// Runs on the writer's thread; the file is its alone.
void writeRecords() {
    char text[captureRecordTextMax];
    bool failed = false;
    int error = 0;
    if (recorder.openingLength > 0 &&
        !appendRecorderFile(&recorder.file, recorder.opening, recorder.openingLength, &error)) {
        failed = true;
        sayWriteFailure(error);
    }
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

SystemResult failure(const char* path, int error, const char* what, const char* todo) {
    SystemResult result{false, error, ""};
    TextBuilder out(result.reason, sizeof result.reason);
    out.append("cannot record to ");
    out.append(path);
    out.append(": ");
    out.append(what);
    out.append(todo);
    return result;
}

// Why the open failed, in words for this path: a FIFO nobody reads yet is
// the one case the system's own words do not explain.
SystemResult openFailure(const char* path, int error) {
    if (error == ENXIO)
        return failure(path, error,
                       "nothing reads it (a FIFO needs its reader first, for example "
                       "\"tolvane-decode FIFO\")",
                       ": start the reader, then the bridge");
    if (error == EISDIR) return failure(path, error, "it is a folder", ": name a file in it");
    return failure(path, error, std::strerror(error),
                   ": check the folder exists and that you may write there");
}

// An existing file must be a capture already, which only a bounded look at
// its first line tells; it may end in a cut line when something else wrote it
// last, which a new line must not join. A file that cannot be read is not
// appended to blindly.
SystemResult checkExisting(const char* path, const RecorderFile& file, bool* needsHeader,
                           bool* needsLineEnd) {
    *needsHeader = true;
    *needsLineEnd = false;
    if (file.size == 0) return {};
    char head[sizeof captureHeader + 2]; // the header, a CR and the line feed
    size_t length = 0;
    int last = -1;
    int error = 0;
    if (!readRecorderFileEnds(path, file, head, sizeof head, &length, &last, &error)) {
        char what[200];
        TextBuilder out(what, sizeof what);
        out.append("the file exists but cannot be read (");
        out.append(std::strerror(error));
        out.append("), so nothing tells whether it is a capture");
        return failure(path, error, what,
                       ": allow reading it, or name a new file or a capture to append to");
    }
    if (length == 0) return {};
    const void* lineFeed = std::memchr(head, '\n', length);
    const size_t firstLine = lineFeed != nullptr
                                 ? static_cast<size_t>(static_cast<const char*>(lineFeed) - head)
                                 : length;
    const bool wholeLine = lineFeed != nullptr || static_cast<int64_t>(length) == file.size;
    if (!wholeLine || !isCaptureHeader(head, firstLine))
        return failure(path, 0,
                       "the file exists and is not a tolvane capture (its first line is not \"# "
                       "tolvane capture 1\")",
                       ": name a new file, or a capture to append to");
    *needsHeader = false;
    *needsLineEnd = last != '\n';
    return {};
}

} // namespace

const LineOutput recorderOutput = {
    .pass = recordLine,
};

SystemResult startRecorder(const char* path) {
    int error = 0;
    if (!openRecorderFile(path, &recorder.file, &error)) return openFailure(path, error);
    if (recorder.file.kind == RecorderFileKind::other) {
        closeRecorderFile(&recorder.file);
        return failure(path, 0, "it is neither a file nor a stream (a block device?)",
                       ": name a file, a FIFO or a terminal");
    }
    bool needsHeader = true, needsLineEnd = false;
    if (recorder.file.kind == RecorderFileKind::regular) {
        if (SystemResult existing = checkExisting(path, recorder.file, &needsHeader, &needsLineEnd);
            !existing) {
            closeRecorderFile(&recorder.file);
            return existing;
        }
    }
    TextBuilder start(recorder.opening, sizeof recorder.opening);
    if (needsLineEnd) start.append("\n");
    start.append(needsHeader ? captureHeader : captureAppendedLine);
    start.append("\n");
    recorder.openingLength = start.length;
    // A file takes its first line now, so that a full disk is said at once; a
    // stream's reader may be slow, so its writer sends it.
    if (recorder.file.kind == RecorderFileKind::regular) {
        if (!appendRecorderFile(&recorder.file, recorder.opening, start.length, &error)) {
            closeRecorderFile(&recorder.file);
            return failure(path, error, std::strerror(error),
                           ": free some space or name another file");
        }
        recorder.openingLength = 0;
    }
    copyText(recorder.path, sizeof recorder.path, path);
    recorder.head = recorder.count = 0;
    recorder.dropped = 0;
    recorder.stopping = recorder.ended = false;
    recorder.started = Clock::now();
    try {
        recorder.writer = std::thread(writeRecords);
    } catch (const std::system_error&) {
        closeRecorderFile(&recorder.file);
        return failure(path, 0, "no thread could be started for the recorder", "");
    }
    std::lock_guard<std::mutex> guard(recorder.lock);
    recorder.recording = true;
    return {};
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
