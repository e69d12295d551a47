#include "measurement/worker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/event_log.h"
#include "device/device_line.h"
#include "device/serial_port.h"
#include "motion/averaging.h"
#include "motion/orientation.h"
#include "output/air_mouse.h"
#include "output/lan_server.h"
#include "settings/settings.h"
#include "text/number_text.h"

namespace {

constexpr auto retryPause = std::chrono::milliseconds(3000);
constexpr auto runPause = std::chrono::milliseconds(100);
// A flag written without requestStop() is still noticed by an idle worker
// after at most this long.
constexpr auto idleSlice = std::chrono::milliseconds(50);
constexpr int messageSize = 256;

// Recorded worker; touched only by the thread that runs the shell's commands.
std::thread workerThread;

// Wakes the worker's pauses when a stop is requested.
std::mutex pauseLock;
std::condition_variable pauseWake;

// A pause that a stop cuts short. The worker still decides at its next stop
// test, exactly as after a full pause.
void pauseUnlessStopped(std::chrono::milliseconds length) {
    std::unique_lock<std::mutex> lock(pauseLock);
    pauseWake.wait_for(lock, length, [] { return stopRequested.load(); });
}

// With no client and no air mouse nothing can change until a stop arrives
// (the settings dialog sets the flag before it touches any field), so wait
// for it instead of spinning through empty passes.
void waitUntilStopped() {
    std::unique_lock<std::mutex> lock(pauseLock);
    while (!stopRequested.load())
        pauseWake.wait_for(lock, idleSlice, [] { return stopRequested.load(); });
}

void logAndPaint(const char* text) {
    appendMessage(text);
    paintLog(true);
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
    return settings.deviceMode.load() == 0 && settings.lanEnabled.load() != 0;
}

void closePortAndSockets() {
    closeSerialPort();
    closeClientSocket();
    closeListenSocket();
}

// Both averaging windows go through the same two steps; the previous output
// stands in when the averaged quaternion has no length.
void averageInto(AveragingWindow& window, const Sample& sample, int32_t capacity,
                 MotionOutput& output) {
    int32_t count = pushSample(window, sample, capacity);
    output = computeMotion(window.samples, count, settings.accelerationOutput.load() != 0, output);
}

void driveMouse(const MotionOutput& mouseOutput, const ButtonState& buttons) {
    if (settings.mouseEnabled.load() == 0) return;
    updateCursor(mouseOutput);
    injectButtons(buttons);
}

enum class PassEnd { normal, error };
enum class LineEnd { accepted, rejected, failed };

// One device line for either loop shape: the poll byte (unless the device
// streams), the line, its check. A failure of the link is logged here; a
// rejected line is passed over without a message.
LineEnd takeLine(bool poll, char* line, Sample& sample, ButtonState& buttons) {
    if (poll && !writePollByte()) {
        appendMessage("WritePort error");
        return LineEnd::failed;
    }
    if (!readDeviceLine(line)) {
        appendMessage("ReadPort error");
        return LineEnd::failed;
    }
    return parseDeviceLine(line, &sample, &buttons) ? LineEnd::accepted : LineEnd::rejected;
}

PassEnd clientDrivenPass(char* line, Sample& sample, ButtonState& buttons,
                         MotionOutput& mouseOutput, MotionOutput& lanOutput) {
    int command = readRequest();
    if (command < 0) {
        appendMessage("ReadSocket error");
        return PassEnd::error;
    }
    if (command != pollByte) return PassEnd::normal;
    if (LineEnd got = takeLine(true, line, sample, buttons); got != LineEnd::accepted)
        return got == LineEnd::failed ? PassEnd::error : PassEnd::normal;
    averageInto(mouseWindow, sample, settings.mouseAveraging.load(), mouseOutput);
    averageInto(lanWindow, sample, settings.lanAveraging.load(), lanOutput);
    if (!sendMotionOutput(lanOutput, buttons)) {
        appendMessage("WriteSocket error");
        return PassEnd::error;
    }
    driveMouse(mouseOutput, buttons);
    return PassEnd::normal;
}

PassEnd freeRunningPass(char* line, Sample& sample, ButtonState& buttons,
                        MotionOutput& mouseOutput) {
    if (settings.mouseEnabled.load() == 0) {
        waitUntilStopped();
        return PassEnd::normal;
    }
    // Preset B sends its lines by itself and is never polled.
    const bool poll = settings.deviceMode.load() != 1;
    if (LineEnd got = takeLine(poll, line, sample, buttons); got != LineEnd::accepted)
        return got == LineEnd::failed ? PassEnd::error : PassEnd::normal;
    averageInto(mouseWindow, sample, settings.mouseAveraging.load(), mouseOutput);
    driveMouse(mouseOutput, buttons);
    return PassEnd::normal;
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

    char message[messageSize];
    char line[deviceLineBufferSize];
    Sample sample{};
    ButtonState buttons{};
    MotionOutput mouseOutput = identityMotion();
    MotionOutput lanOutput = identityMotion();

    for (;;) {
        bool clientConnected = false;

        for (;;) {
            bool opened = openSerialPort();
            logSerialOpen(message, opened);
            if (!opened) pauseUnlessStopped(retryPause);
            if (stopRequested.load()) return 1;
            if (opened) break;
        }

        if (lanWanted()) {
            logAndPaint("enable lan");
            if (settings.webSocketEnabled.load() != 0) logAndPaint("enable websocket");
        }
        if (settings.mouseEnabled.load() != 0) logAndPaint("enable mouse");

        while (!clientConnected && lanWanted()) {
            clientConnected = openLanServer();
            logLanOpen(message, clientConnected);
            // A port held by another program would otherwise turn into a
            // busy loop that floods the log.
            if (!clientConnected) pauseUnlessStopped(retryPause);
            if (stopRequested.load()) return 1;
        }

        resetPreviousButtons();
        if (stopRequested.load()) return 0;

        for (;;) {
            PassEnd end = clientConnected
                              ? clientDrivenPass(line, sample, buttons, mouseOutput, lanOutput)
                              : freeRunningPass(line, sample, buttons, mouseOutput);
            if (end == PassEnd::error) break;
            if (stopRequested.load()) return 0;
        }

        paintLog(true);
        // Whoever asked for the stop closes the port and the sockets.
        if (stopRequested.load()) return 0;
        closePortAndSockets();
        logAndPaint("Restart....");
        pauseUnlessStopped(retryPause);
        clearLog();
    }
}

void requestStop() {
    {
        std::lock_guard<std::mutex> guard(pauseLock);
        stopRequested = true;
    }
    pauseWake.notify_all();
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
