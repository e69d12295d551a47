#pragma once
// The measurement worker and the Run/shutdown sequences every shell uses.

// The worker's body: returns 1 when it ended during the serial or LAN open
// steps, 0 when it ended later. Ends only when stopRequested is set.
unsigned measurementWorker();

// The Run command: stop a running worker (set the flag, close port and
// sockets, wait), reset both windows and the log, clear the flag, start a new
// one. The resets wait for the old worker so that none of its last samples or
// messages reaches the new run.
void runMeasurement();

// The shutdown path: set the flag, close port and sockets, wait for the worker.
void shutdownMeasurement();

// Whether a worker thread is recorded (started and not yet joined).
bool workerRecorded();
