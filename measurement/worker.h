#pragma once
// The measurement worker and the Run/shutdown sequences every shell uses.

// The worker's body: returns 1 when it ended during the serial or LAN open
// steps, 0 when it ended later. Ends only when stopRequested is set.
unsigned measurementWorker();

// The Run command: stop a running worker (set the flag, close port and
// sockets, wait), reset both windows and the log, call beforeStart (when
// given; the window program reads the keyed settings again there), clear the
// flag, start a new one. The resets wait for the old worker so that none of
// its last samples or messages reaches the new run.
void runMeasurement(void (*beforeStart)() = nullptr);

// Set the flag, close port and sockets, wait for the worker: nothing stays
// open after it (the settings dialog's OK). Run starts the next worker.
void stopMeasurement();

// The shutdown path: the same as stopMeasurement.
void shutdownMeasurement();

// Whether a worker thread is recorded (started and not yet joined).
bool workerRecorded();
