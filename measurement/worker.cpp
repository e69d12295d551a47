#include "measurement/worker.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "device/device_line.h"
#include "device/serial_port.h"
#include "measurement/event_log.h"
#include "measurement/output_list.h"
#include "motion/averaging.h"
#include "output/lan/lan_server.h"
#include "output/hand/mouse_feel.h"
#include "protocol/line_step.h"
#include "settings/settings.h"
#include "settings/stop_request.h"

namespace {

constexpr auto retryPause = std::chrono::milliseconds(3000);
constexpr auto runPause = std::chrono::milliseconds(100);

// Recorded worker; touched only by the thread that runs the shell's commands.
std::thread workerThread;

// Whether the worker's cycle has a LAN client; the worker's thread only.
bool clientConnected = false;

// An event with what every event tells: the client, a stop under way.
WorkerEvent eventOf(WorkerEventKind kind) {
    WorkerEvent event;
    event.kind = kind;
    event.clientConnected = clientConnected;
    event.stopping = stopRequested.load();
    return event;
}

void report(WorkerEventKind kind) {
    reportWorkerEvent(eventOf(kind));
}

// A stop closes the port under a transfer, which then fails: that is the
// stop, not a fault of the port, and it is not logged as one. Only the
// port's failures: the LAN client's keep their line and the notes' word.
void reportUnlessStopping(WorkerEventKind kind) {
    const bool portFailure =
        kind == WorkerEventKind::portReadFailed || kind == WorkerEventKind::portWriteFailed;
    if (portFailure && stopRequested.load()) return;
    report(kind);
}

void reportSerialOpen(const SystemResult& opened) {
    WorkerEvent event = eventOf(WorkerEventKind::serialOpen);
    event.opened = opened.ok;
    event.serialResult = opened;
    getSerialDeviceName(event.comPort);
    reportWorkerEvent(event);
}

void reportLanOpen(const SystemResult& opened) {
    WorkerEvent event = eventOf(WorkerEventKind::lanOpen);
    event.opened = opened.ok;
    event.lanResult = opened;
    event.lanPort = settings.lanPort.load();
    reportWorkerEvent(event);
}

void reportFeature(WorkerFeature feature) {
    WorkerEvent event = eventOf(WorkerEventKind::featureEnabled);
    event.feature = feature;
    reportWorkerEvent(event);
}

bool lanWanted() {
    return settings.deviceMode.load() == devicePresetC && settings.lanEnabled.load() != 0;
}

template <typename Hook, typename... Args> void walkOutputs(Hook LineOutput::*hook, Args... args) {
    for (int i = 0; i < workerOutputCount; ++i)
        if (auto f = workerOutputs[i]->*hook) f(args...);
}

template <typename Hook> bool anyOutput(Hook LineOutput::*hook) {
    for (int i = 0; i < workerOutputCount; ++i)
        if (auto f = workerOutputs[i]->*hook; f != nullptr && f()) return true;
    return false;
}

// At a restart, on the worker's thread: the port first, then each output.
void closeForRestart() {
    closeSerialPort();
    walkOutputs(&LineOutput::restart);
}

// At a Run or shutdown, from the shell's thread.
void closeForStop() {
    closeSerialPort();
    walkOutputs(&LineOutput::stop);
}

// Opens the serial port, retrying every three seconds. False when a stop
// ended the attempts.
bool openSerialUntilStopped() {
    for (;;) {
        const SystemResult opened = openSerialPort();
        reportSerialOpen(opened);
        if (!opened) pauseUnlessStopped(retryPause);
        if (stopRequested.load()) return false;
        if (opened) return true;
    }
}

void announceFeatures() {
    if (lanWanted()) {
        reportFeature(WorkerFeature::lan);
        if (settings.webSocketEnabled.load() != 0) reportFeature(WorkerFeature::webSocket);
    }
    if (settings.mouseEnabled.load() != 0) reportFeature(WorkerFeature::mouse);
}

// With LAN wanted, listens and waits for one client, retrying every three
// seconds (a port held by another program would otherwise turn into a busy
// loop that floods the log). clientConnected tells whether a client is there.
// False when a stop ended the attempts.
bool openLanUntilStopped() {
    clientConnected = false;
    while (!clientConnected && lanWanted()) {
        const SystemResult opened = openLanServer();
        clientConnected = opened.ok;
        reportLanOpen(opened);
        if (!clientConnected) pauseUnlessStopped(retryPause);
        if (stopRequested.load()) return false;
    }
    return true;
}

// How a pass of the measurement loop ended: go on, or restart the cycle.
enum class PassOutcome { goOn, restart };

struct Measurement {
    char line[deviceLineBufferSize];
    LineState state{&mouseWindow, &lanWindow};
};

// Every output in list order, until one asks for a restart.
OutputOutcome walkPass(const LinePass& pass) {
    if (pass.length <= 0) return {};
    for (int i = 0; i < workerOutputCount; ++i) {
        if (workerOutputs[i]->pass == nullptr) continue;
        const OutputOutcome outcome = workerOutputs[i]->pass(pass);
        if (outcome.restart) return outcome;
    }
    return {};
}

// One device line for either loop shape: the poll byte (unless the device
// streams), the line, the per-line step, then every output in turn. A failure
// of the link or an output is reported here; a rejected line goes to the
// outputs as well, which pass it over (the recorder keeps it).
PassOutcome takeLine(Measurement& m, bool poll, bool requested) {
    if (poll && !writePollByte()) {
        reportUnlessStopping(WorkerEventKind::portWriteFailed);
        return PassOutcome::restart;
    }
    int length = 0;
    const bool complete = readDeviceLine(m.line, &length);
    const auto received = std::chrono::steady_clock::now();
    LinePass pass;
    if (complete) {
        LineStepSettings step;
        // Adaptive smoothing replaces the mouse window: it filters single samples.
        step.mouseAveraging =
            mouseWindowLength(mouseFeelFromSettings(), settings.mouseAveraging.load());
        step.lanAveraging = settings.lanAveraging.load();
        step.acceleration = settings.accelerationOutput.load() != 0;
        step.lanWindow = requested || anyOutput(&LineOutput::needsLanOutput);
        pass = stepLine(m.state, step, m.line, length);
    } else {
        // Cut short: not stepped, but the outputs see what came (the
        // recorder keeps it) before the cycle restarts.
        pass.line = m.line;
        pass.length = length;
    }
    pass.requested = requested;
    pass.received = received;
    OutputOutcome outcome = walkPass(pass);
    if (!complete) outcome = {true, WorkerEventKind::portReadFailed};
    if (!outcome.restart) return PassOutcome::goOn;
    reportUnlessStopping(outcome.why);
    return PassOutcome::restart;
}

PassOutcome clientDrivenPass(Measurement& m) {
    // Outputs act only on the samples a client asks for: one that stops
    // asking must not keep a button or key down.
    if (anyOutput(&LineOutput::holding) && !requestWithin(heldLapseMs))
        walkOutputs(&LineOutput::lapse);
    int command = readRequest();
    if (command < 0) {
        report(WorkerEventKind::socketReadFailed);
        return PassOutcome::restart;
    }
    if (command != pollByte) return PassOutcome::goOn;
    return takeLine(m, true, true);
}

PassOutcome freeRunningPass(Measurement& m) {
    if (!anyOutput(&LineOutput::readsUnasked)) {
        // Nothing can change until a stop arrives (the settings dialog
        // requests one before it touches any field): wait instead of spinning.
        waitUntilStopped();
        return PassOutcome::goOn;
    }
    // Preset B sends its lines by itself and is never polled.
    const bool poll = settings.deviceMode.load() != devicePresetB;
    return takeLine(m, poll, false);
}

void startWorker() {
    // A thread that cannot be started leaves nothing recorded; the next Run
    // then has nothing to wait for.
    try {
        workerThread = std::thread([] { measurementWorker(); });
    } catch (const std::system_error&) {
        workerThread = std::thread();
    }
}

// Ends the recorded worker: the flag, the closes that release it, the wait.
void endWorker(std::chrono::milliseconds pause) {
    requestStop();
    std::this_thread::sleep_for(pause);
    closeForStop();
    if (!workerThread.joinable()) return;
    workerThread.join();
    // A stop that came between the worker's last stop test and a serial or
    // LAN open finds that open done after the closes above; what it opened is
    // closed here, or the next worker (or another program) finds it taken.
    closeForStop();
    std::this_thread::sleep_for(pause);
}

} // namespace

namespace {

// The cycles of one worker, until a stop: 1 when it came during the serial
// or LAN open steps, 0 when later.
unsigned runCycles() {
    Measurement m;
    clientConnected = false;

    for (;;) {
        if (!openSerialUntilStopped()) return 1;
        announceFeatures();
        if (!openLanUntilStopped()) return 1;

        walkOutputs(&LineOutput::begin);
        if (stopRequested.load()) return 0;

        for (;;) {
            PassOutcome outcome = clientConnected ? clientDrivenPass(m) : freeRunningPass(m);
            if (outcome == PassOutcome::restart) break;
            if (stopRequested.load()) return 0;
        }

        requestRepaint();
        // Whoever asked for the stop closes the port and the sockets.
        if (stopRequested.load()) return 0;
        closeForRestart();
        report(WorkerEventKind::restart);
        clientConnected = false;
        pauseUnlessStopped(retryPause);
        // A stop during the pause must not open the port once more; it ends
        // the worker where the next serial open would have.
        if (stopRequested.load()) return 1;
        clearLog();
    }
}

} // namespace

unsigned measurementWorker() {
    walkOutputs(&LineOutput::prepare);
    const unsigned ended = runCycles();
    walkOutputs(&LineOutput::finish);
    return ended;
}

bool workerRecorded() {
    return workerThread.joinable();
}

void runMeasurement(void (*beforeStart)()) {
    if (workerThread.joinable()) endWorker(runPause);
    // Reset only once the old worker has ended, so that a last push or
    // message of it cannot land in the new measurement.
    mouseWindow.count = 0;
    lanWindow.count = 0;
    clearLog();
    if (beforeStart != nullptr) beforeStart();
    stopRequested = false;
    startWorker();
}

void stopMeasurement() {
    endWorker(std::chrono::milliseconds(0));
}

void shutdownMeasurement() {
    stopMeasurement();
}
