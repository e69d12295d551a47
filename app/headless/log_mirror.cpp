#include "app/headless/log_mirror.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "text/number_text.h"

namespace {

using Clock = std::chrono::steady_clock;

struct LineQueue {
    StandardStream stream;
    int capacity;
    int lineSize;
    char* storage;      // capacity lines of lineSize bytes
    int* lengths;       // of each stored line
    long* droppedAfter; // lines dropped while this one was the newest
    std::mutex lock{};
    std::condition_variable changed{}; // a line queued, a stop asked, the writer ended
    int head = 0;
    int count = 0;
    bool writing = false; // a line taken out and not yet written
    bool stopping = false;
    bool ended = false;
    std::thread writer{};
};

char outputLines[outputQueueLines * outputLineSize];
int outputLengths[outputQueueLines];
long outputDropped[outputQueueLines];
char errorLines[errorQueueLines * errorLineSize];
int errorLengths[errorQueueLines];
long errorDropped[errorQueueLines];

LineQueue outputQueue{StandardStream::output, outputQueueLines, outputLineSize, outputLines,
                      outputLengths,          outputDropped};
LineQueue errorQueue{StandardStream::errors, errorQueueLines, errorLineSize, errorLines,
                     errorLengths,           errorDropped};

StreamWriter streamWriter = writeStandardStream;

void push(LineQueue& q, const char* text) {
    {
        std::lock_guard<std::mutex> guard(q.lock);
        if (q.stopping) return;
        if (q.count == q.capacity) {
            ++q.droppedAfter[(q.head + q.count - 1) % q.capacity];
            return;
        }
        const int slot = (q.head + q.count) % q.capacity;
        char* line = q.storage + static_cast<size_t>(slot) * static_cast<size_t>(q.lineSize);
        const size_t length = copyText(line, static_cast<size_t>(q.lineSize), text);
        line[length] = '\n';
        q.lengths[slot] = static_cast<int>(length + 1);
        q.droppedAfter[slot] = 0;
        ++q.count;
    }
    q.changed.notify_all();
}

// Said once the lines before the gap are out, so it stands where it belongs
// when both streams go to the same terminal.
void sayDropped(LineQueue& q, long dropped) {
    char note[errorLineSize];
    TextBuilder text(note, sizeof note);
    text.append("tolvane-headless: ");
    text.appendInteger(dropped);
    if (q.stream == StandardStream::output) {
        text.append(" event-log lines dropped here: standard output was not read for a while");
        push(errorQueue, note);
    } else {
        text.append(" notes dropped here: standard error was not read for a while\n");
        (void)streamWriter(q.stream, note, text.length);
    }
}

void runWriter(LineQueue& q) {
    char line[std::max(outputLineSize, errorLineSize)];
    bool failureSaid = false;
    std::unique_lock<std::mutex> guard(q.lock);
    for (;;) {
        q.changed.wait(guard, [&q] { return q.count > 0 || q.stopping; });
        if (q.count == 0) break;
        const int slot = q.head;
        const int length = q.lengths[slot];
        std::memcpy(line, q.storage + static_cast<size_t>(slot) * static_cast<size_t>(q.lineSize),
                    static_cast<size_t>(length));
        const long dropped = q.droppedAfter[slot];
        q.head = (q.head + 1) % q.capacity;
        --q.count;
        q.writing = true;
        guard.unlock();

        const bool written = streamWriter(q.stream, line, static_cast<size_t>(length));
        if (!written && !failureSaid && q.stream == StandardStream::output) {
            failureSaid = true;
            push(errorQueue, "tolvane-headless: standard output cannot be written any more: "
                             "the event log is not printed from here on");
        }
        if (dropped > 0) sayDropped(q, dropped);

        guard.lock();
        q.writing = false;
    }
    q.ended = true;
    guard.unlock();
    q.changed.notify_all();
}

void start(LineQueue& q) {
    if (q.writer.joinable()) q.writer.join();
    q.head = q.count = 0;
    q.writing = q.stopping = q.ended = false;
    try {
        q.writer = std::thread(runWriter, std::ref(q));
    } catch (const std::system_error&) {
        q.writer = std::thread(); // lines are then kept until the queue is full
    }
}

// Asks the writer to end after its queue and waits until deadline.
bool finish(LineQueue& q, Clock::time_point deadline) {
    std::unique_lock<std::mutex> guard(q.lock);
    q.stopping = true;
    q.changed.notify_all();
    if (!q.writer.joinable()) return true;
    const bool ended = q.changed.wait_until(guard, deadline, [&q] { return q.ended; });
    guard.unlock();
    if (ended) q.writer.join();
    return ended;
}

} // namespace

void startLogMirror(StreamWriter writer) {
    streamWriter = writer;
    start(errorQueue);
    start(outputQueue);
}

void mirrorLine(StandardStream stream, const char* text) {
    push(stream == StandardStream::output ? outputQueue : errorQueue, text);
}

bool stopLogMirror(std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    const bool outputEnded = finish(outputQueue, deadline);
    if (!outputEnded) {
        long left = 0;
        {
            std::lock_guard<std::mutex> guard(outputQueue.lock);
            left = outputQueue.count + (outputQueue.writing ? 1 : 0);
        }
        char note[errorLineSize];
        TextBuilder text(note, sizeof note);
        text.append("tolvane-headless: standard output is not being read: the last ");
        text.appendInteger(left);
        text.append(" event-log lines were not written");
        push(errorQueue, note);
    }
    // Standard error gets a moment of its own even when output used up the bound.
    const bool errorsEnded = finish(errorQueue, std::max(deadline, Clock::now() + bound / 4));
    return outputEnded && errorsEnded;
}
