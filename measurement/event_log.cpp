#include "measurement/event_log.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "text/number_text.h"

namespace {

struct EventLog {
    char entries[eventLogEntries][eventLogEntryLength];
    int count = 0;
    std::mutex lock;
};

EventLog eventLog;
std::atomic<LogListener> logListener{nullptr};
std::atomic<RepaintListener> repaintListener{nullptr};
std::atomic<WorkerEventListener> eventListener{nullptr};

} // namespace

void appendMessage(const char* text) {
    char stored[eventLogEntryLength];
    copyText(stored, sizeof stored, text); // longer texts are cut, never overrun
    {
        std::lock_guard<std::mutex> guard(eventLog.lock);
        std::memcpy(eventLog.entries[eventLog.count], stored, sizeof stored);
        ++eventLog.count;
        if (eventLog.count == eventLogEntries) {
            for (int i = 0; i + 1 < eventLogEntries; ++i)
                std::memcpy(eventLog.entries[i], eventLog.entries[i + 1], eventLogEntryLength);
            --eventLog.count;
        }
    }
    if (LogListener listener = logListener.load()) listener(stored);
}

void clearLog() {
    std::lock_guard<std::mutex> guard(eventLog.lock);
    eventLog.count = 0;
}

int logCount() {
    std::lock_guard<std::mutex> guard(eventLog.lock);
    return eventLog.count;
}

size_t buildLogText(char* out) {
    TextBuilder text(out, eventLogTextSize);
    std::lock_guard<std::mutex> guard(eventLog.lock);
    for (int i = 0; i < eventLog.count; ++i) {
        text.append(eventLog.entries[i]);
        text.append("\n");
    }
    return text.length;
}

void setLogListener(LogListener listener) {
    logListener = listener;
}

void setRepaintListener(RepaintListener listener) {
    repaintListener = listener;
}

void requestRepaint() {
    if (RepaintListener listener = repaintListener.load()) listener();
}

void setWorkerEventListener(WorkerEventListener listener) {
    eventListener = listener;
}

void reportWorkerEvent(const WorkerEvent& event) {
    char text[workerEventTextSize];
    formatWorkerEvent(event, text, sizeof text);
    appendMessage(text);
    if (workerEventRepaints(event)) requestRepaint();
    if (WorkerEventListener listener = eventListener.load()) listener(event);
}
