#pragma once
// The event log: the latest messages of the measurement worker, shown by the
// window (and echoed by the headless bridge). The shells learn of changes
// through listeners they register; this layer knows no window.

#include <cstddef>

#include "protocol/worker_event.h"

constexpr int eventLogEntries = 40;
constexpr int eventLogEntryLength = 80; // 79 characters and the terminator
constexpr int eventLogShown = 39;
constexpr size_t eventLogTextSize = 3280;

// Adds one message (cut to 79 characters); at 40 the oldest is dropped.
void appendMessage(const char* text);
// Empties the list; does not repaint.
void clearLog();
// Number of messages shown now (0..39).
int logCount();
// The shown messages, oldest first, each followed by "\n", into out
// (eventLogTextSize bytes). Returns the length.
size_t buildLogText(char* out);

// Called after every append, outside the lock, with the text as stored
// (the headless bridge prints it, the window program hands it to the debugger).
using LogListener = void (*)(const char* message);
void setLogListener(LogListener listener);

// Asks the shell to show the log again (the window invalidates itself and
// draws on its own thread). The worker asks after logging; without a
// registered listener nothing happens.
using RepaintListener = void (*)();
void setRepaintListener(RepaintListener listener);
void requestRepaint();

// The worker's events: each is logged with its text (and a repaint where the
// window shows it), then handed to the listener, on the worker's thread
// (the headless bridge's notes act on them).
using WorkerEventListener = void (*)(const WorkerEvent& event);
void setWorkerEventListener(WorkerEventListener listener);
void reportWorkerEvent(const WorkerEvent& event);
