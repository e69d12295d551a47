#pragma once
// The headless bridge's two streams, each written by a thread of its own from
// a bounded queue: standard output carries the event log, standard error the
// notes for people. The measurement hands a line over and goes on; it never
// waits for whoever reads the streams (a paused pager, a stuck log collector).

#include <chrono>
#include <cstddef>

#include "app/headless/standard_streams.h"

constexpr int outputQueueLines = 1024;
constexpr int errorQueueLines = 64;
constexpr int outputLineSize = 96; // an event-log message and its line end
constexpr int errorLineSize = 400;

// Writes one line to a stream (writeStandardStream, or a test's stand-in).
using StreamWriter = bool (*)(StandardStream stream, const char* data, size_t size);

// Starts both writers with empty queues.
void startLogMirror(StreamWriter writer = writeStandardStream);

// Queues text as one line (the line end is added; a longer text is cut).
// Never waits for a writer: a line that finds its queue full is dropped,
// and once the lines queued before it are written, standard error says how
// many were dropped there. Lines after stopLogMirror are dropped silently.
void mirrorLine(StandardStream stream, const char* text);

// Lets both writers finish their queues, waiting at most about bound. True
// when both ended; false when one is still stuck in a write, and then the
// process must end without waiting for it (std::_Exit).
bool stopLogMirror(std::chrono::milliseconds bound);
