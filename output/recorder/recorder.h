#pragma once
// The recorder: every device line the worker reads (accepted, rejected or
// cut short), with its receive time, appended to a capture file
// (device/capture.h) that tolvane-decode reads and tolvane-devsim replays.
//
// The worker only queues: a writer thread of its own writes the file from a
// bounded queue, so a slow disk never holds the measurement. When the queue
// is full a line is dropped and counted, and the file says where.

#include <chrono>
#include <cstddef>

#include "protocol/line_output.h"
#include "text/system_result.h"

extern const LineOutput recorderOutput;

// Opens path for appending (creating it with the capture's first line) and
// starts the writer; it never waits on the path. An existing file keeps all
// it held; one that is not a capture, or cannot be read to tell, is refused.
// A FIFO (with its reader already there), a terminal or a character device
// such as /dev/null is written as a stream: a fresh capture every start,
// never read back. A failure says what is wrong and what to do; a write that
// fails later is said as a note (protocol/output_note.h, "recorder").
SystemResult startRecorder(const char* path);

// Lets the writer finish its queue, waiting at most about bound, and closes
// the file. True when the writer ended; false when it is stuck in a write.
bool stopRecorder(std::chrono::milliseconds bound);
