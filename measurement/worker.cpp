#include "measurement/worker.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "device/device_line.h"
#include "device/serial_port.h"
#include "measurement/event_log.h"
#include "motion/averaging.h"
#include "motion/orientation.h"
#include "output/lan/lan_server.h"
#include "output/pointer/air_mouse.h"
#include "output/pointer/mouse_feel.h"
#include "settings/settings.h"
#include "settings/stop_request.h"
#include "text/number_text.h"

namespace {

constexpr auto retryPause = std::chrono::milliseconds(3000);
constexpr auto runPause = std::chrono::milliseconds(100);
constexpr int messageSize = 256;

// Recorded worker; touched only by the thread that runs the shell's commands.
std::thread workerThread;

void logAndPaint(const char* text) {
    appendMessage(text);
    requestRepaint();
}

void logSerialOpen(char* message, bool opened) {
    char port[comPortSize];
    getComPort(port);
    TextBuilder text(message, messageSize);
    text.append("open serial (");
    text.append(port);
    text.append(") : ");
    text.append(opened ? " success" : " error");
    logAndPaint(message);
}

void logLanOpen(char* message, bool opened) {
    TextBuilder text(message, messageSize);
    text.append("OpenSocket port(");
    text.appendInteger(settings.lanPort.load());
    text.append(") : ");
    text.append(opened ? "success" : "error");
    logAndPaint(message);
}

bool lanWanted() {
    return settings.deviceMode.load() == devicePresetC && settings.lanEnabled.load() != 0;
}

void closePortAndSockets() {
    closeSerialPort();
    closeClientSocket();
    closeListenSocket();
}

// Opens the serial port, retrying every three seconds. False when a stop
// ended the attempts.
bool openSerialUntilStopped(char* message) {
    for (;;) {
        bool opened = openSerialPort();
        logSerialOpen(message, opened);
        if (!opened) pauseUnlessStopped(retryPause);
        if (stopRequested.load()) return false;
        if (opened) return true;
    }
}

void announceFeatures() {
    if (lanWanted()) {
        logAndPaint("enable lan");
        if (settings.webSocketEnabled.load() != 0) logAndPaint("enable websocket");
    }
    if (settings.mouseEnabled.load() != 0) logAndPaint("enable mouse");
}

// With LAN wanted, listens and waits for one client, retrying every three
// seconds (a port held by another program would otherwise turn into a busy
// loop that floods the log). *connected tells whether a client is there.
// False when a stop ended the attempts.
bool openLanUntilStopped(char* message, bool* connected) {
    *connected = false;
    while (!*connected && lanWanted()) {
        *connected = openLanServer();
        logLanOpen(message, *connected);
        if (!*connected) pauseUnlessStopped(retryPause);
        if (stopRequested.load()) return false;
    }
    return true;
}

// Both averaging windows go through the same two steps; the previous output
// stands in when the averaged quaternion has no length.
void averageInto(AveragingWindow& window, const Sample& sample, int32_t capacity,
                 MotionOutput& output) {
    int32_t count = pushSample(window, sample, capacity);
    output = computeMotion(window.samples, count, settings.accelerationOutput.load() != 0, output);
}

// The air mouse's feel needs each line's arrival time, from a steady clock.
double secondsNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void driveMouse(const MotionOutput& mouseOutput, const ButtonState& buttons, double seconds) {
    if (settings.mouseEnabled.load() == 0) return;
    driveAirMouse(mouseOutput, buttons, seconds, mouseFeelFromSettings());
}

int32_t mouseLength() {
    return mouseWindowLength(mouseFeelFromSettings(), settings.mouseAveraging.load());
}

// How a pass of the measurement loop ended: go on, or restart the cycle.
enum class PassOutcome { goOn, restart };
// What became of one device line.
enum class LineOutcome { accepted, rejected, linkFailed };

// One device line for either loop shape: the poll byte (unless the device
// streams), the line, its check. A failure of the link is logged here; a
// rejected line is passed over without a message.
LineOutcome takeLine(bool poll, char* line, Sample& sample, ButtonState& buttons, double& seconds) {
    if (poll && !writePollByte()) {
        appendMessage("WritePort error");
        return LineOutcome::linkFailed;
    }
    if (!readDeviceLine(line)) {
        appendMessage("ReadPort error");
        return LineOutcome::linkFailed;
    }
    seconds = secondsNow();
    return parseDeviceLine(line, &sample, &buttons) ? LineOutcome::accepted : LineOutcome::rejected;
}

PassOutcome afterLine(LineOutcome got) {
    return got == LineOutcome::linkFailed ? PassOutcome::restart : PassOutcome::goOn;
}

PassOutcome clientDrivenPass(char* line, Sample& sample, ButtonState& buttons,
                             MotionOutput& mouseOutput, MotionOutput& lanOutput) {
    int command = readRequest();
    if (command < 0) {
        appendMessage("ReadSocket error");
        return PassOutcome::restart;
    }
    if (command != pollByte) return PassOutcome::goOn;
    double seconds = 0.0;
    if (LineOutcome got = takeLine(true, line, sample, buttons, seconds);
        got != LineOutcome::accepted)
        return afterLine(got);
    averageInto(mouseWindow, sample, mouseLength(), mouseOutput);
    averageInto(lanWindow, sample, settings.lanAveraging.load(), lanOutput);
    if (sendMotionOutput(lanOutput, buttons) == ReplyOutcome::failed) {
        appendMessage("WriteSocket error");
        return PassOutcome::restart;
    }
    driveMouse(mouseOutput, buttons, seconds);
    return PassOutcome::goOn;
}

PassOutcome freeRunningPass(char* line, Sample& sample, ButtonState& buttons,
                            MotionOutput& mouseOutput) {
    if (settings.mouseEnabled.load() == 0) {
        // Nothing can change until a stop arrives (the settings dialog
        // requests one before it touches any field): wait instead of spinning.
        waitUntilStopped();
        return PassOutcome::goOn;
    }
    // Preset B sends its lines by itself and is never polled.
    const bool poll = settings.deviceMode.load() != devicePresetB;
    double seconds = 0.0;
    if (LineOutcome got = takeLine(poll, line, sample, buttons, seconds);
        got != LineOutcome::accepted)
        return afterLine(got);
    averageInto(mouseWindow, sample, mouseLength(), mouseOutput);
    driveMouse(mouseOutput, buttons, seconds);
    return PassOutcome::goOn;
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

} // namespace

unsigned measurementWorker() {
    computeScreenDistancePixels();
    // A new run forgets the reference of a recenter or a clutch; a restart keeps it.
    resetMouseReference();

    char message[messageSize];
    char line[deviceLineBufferSize];
    Sample sample{};
    ButtonState buttons{};
    MotionOutput mouseOutput = identityMotion();
    MotionOutput lanOutput = identityMotion();

    for (;;) {
        if (!openSerialUntilStopped(message)) return 1;
        announceFeatures();
        bool clientConnected = false;
        if (!openLanUntilStopped(message, &clientConnected)) return 1;

        resetPreviousButtons();
        resetMouseFeel();
        if (stopRequested.load()) return 0;

        for (;;) {
            PassOutcome outcome =
                clientConnected ? clientDrivenPass(line, sample, buttons, mouseOutput, lanOutput)
                                : freeRunningPass(line, sample, buttons, mouseOutput);
            if (outcome == PassOutcome::restart) break;
            if (stopRequested.load()) return 0;
        }

        requestRepaint();
        // Whoever asked for the stop closes the port and the sockets.
        if (stopRequested.load()) return 0;
        closePortAndSockets();
        logAndPaint("Restart....");
        pauseUnlessStopped(retryPause);
        clearLog();
    }
}

bool workerRecorded() {
    return workerThread.joinable();
}

void runMeasurement() {
    if (workerThread.joinable()) {
        requestStop();
        std::this_thread::sleep_for(runPause);
        closePortAndSockets();
        workerThread.join();
        // A worker stopped during its restart pause makes one more serial
        // open attempt before its stop test; what it opened then is closed
        // here, or the new worker would find its own port taken.
        closePortAndSockets();
        std::this_thread::sleep_for(runPause);
    }
    // Reset only once the old worker has ended, so that a last push or
    // message of it cannot land in the new measurement.
    mouseWindow.count = 0;
    lanWindow.count = 0;
    clearLog();
    stopRequested = false;
    startWorker();
}

void shutdownMeasurement() {
    requestStop();
    closePortAndSockets();
    if (workerThread.joinable()) {
        workerThread.join();
        closePortAndSockets();
    }
}
