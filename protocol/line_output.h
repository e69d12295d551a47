#pragma once
// An output of the bridge as the worker sees it: a few plain functions, any
// of which may be left out. The worker keeps one list of them and walks it;
// a new output is a folder of its own plus one entry in that list
// (measurement/output_list.cpp).

#include "protocol/line_step.h"
#include "protocol/worker_event.h"

// What a pass asks of the worker: go on, or end the cycle and restart after
// reporting why.
struct OutputOutcome {
    bool restart = false;
    WorkerEventKind why = WorkerEventKind::restart;
};

// How long without a fresh sample (a LAN client that stopped asking, a device
// that sends only lines it refuses) a held button or key may stay down.
constexpr int heldLapseMs = 1000;

struct LineOutput {
    // Once per worker, before its first cycle (on the worker's thread).
    void (*prepare)() = nullptr;
    // Whether the device is to be read while no LAN client drives the
    // passes. No output that wants it: the worker waits idle for a stop.
    bool (*readsUnasked)() = nullptr;
    // Whether it uses pass.lanOutput on passes no LAN client asked for (the
    // LAN window is then averaged on those too).
    bool (*needsLanOutput)() = nullptr;
    // A cycle begins: the port (and the LAN client, if any) are open.
    void (*begin)() = nullptr;
    // Every line the line search read, accepted or not, in list order; the
    // first output that asks for a restart ends the walk.
    OutputOutcome (*pass)(const LinePass& pass) = nullptr;
    // Whether it holds something down on the user's desktop (a button, a
    // key) that must not stay down when samples stop coming.
    bool (*holding)() = nullptr;
    // No fresh sample came for heldLapseMs (a LAN client stopped asking)
    // while it was holding: let go (worker's thread).
    void (*lapse)() = nullptr;
    // The cycle ends in a restart (worker's thread), after the port closed.
    void (*restart)() = nullptr;
    // A Run or shutdown stops the worker: from any thread, may come while
    // the worker is blocked in the output, and must release it.
    void (*stop)() = nullptr;
    // Once per worker, after its last cycle (on the worker's thread): what
    // the stop left open because closing it from another thread could race
    // the worker.
    void (*finish)() = nullptr;
};
