#include "tests/support/worker_fakes.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "device/device_line.h"
#include "device/serial_port.h"
#include "measurement/event_log.h"
#include "output/lan/lan_server.h"
#include "output/desktop/keys.h"
#include "output/desktop/pointer.h"
#include "text/number_text.h"

namespace {

std::mutex lock;
std::condition_variable changed;
FakeWorld world;
std::vector<std::string> trace;
std::vector<std::string> replies;
bool portOpen = false, listenOpen = false, clientOpen = false;

void traceLocked(std::string entry) {
    trace.push_back(std::move(entry));
    changed.notify_all();
}

void traceEntry(std::string entry) {
    std::lock_guard<std::mutex> guard(lock);
    traceLocked(std::move(entry));
}

void traceMessage(const char* message) {
    traceEntry(std::string("log ") + message);
}

// The window: repaint requests go into the trace too.
void traceRepaint() {
    traceEntry("paint");
}

// Blocks until `open` turns false: a close from any thread.
// Line reads blocked on a silent device, so that a test changes the lines
// only once the worker waits for them.
int lineReadsWaiting = 0;

void blockWhile(std::unique_lock<std::mutex>& guard, const bool& open) {
    changed.wait(guard, [&] { return !open; });
}

} // namespace

void resetFakes(const FakeWorld& w) {
    std::lock_guard<std::mutex> guard(lock);
    world = w;
    trace.clear();
    replies.clear();
    portOpen = listenOpen = clientOpen = false;
    setLogListener(traceMessage);
    setRepaintListener(traceRepaint);
}

void editFakes(const std::function<void(FakeWorld&)>& f) {
    std::lock_guard<std::mutex> guard(lock);
    f(world);
    changed.notify_all();
}

std::vector<std::string> traceCopy() {
    std::lock_guard<std::mutex> guard(lock);
    return trace;
}

bool waitForTrace(const std::function<bool(const std::vector<std::string>&)>& pred,
                  std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, bound, [&] { return pred(trace); });
}

int countEntries(const std::vector<std::string>& t, const std::string& entry) {
    return static_cast<int>(std::count(t.begin(), t.end(), entry));
}

bool waitForEntry(const std::string& entry, int times, std::chrono::milliseconds bound) {
    return waitForTrace([&](const auto& t) { return countEntries(t, entry) >= times; }, bound);
}

bool fakePortOpen() {
    std::lock_guard<std::mutex> guard(lock);
    return portOpen;
}
bool fakeListenOpen() {
    std::lock_guard<std::mutex> guard(lock);
    return listenOpen;
}
bool waitForBlockedLineRead(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, bound, [] { return lineReadsWaiting > 0; });
}
bool fakeClientOpen() {
    std::lock_guard<std::mutex> guard(lock);
    return clientOpen;
}
std::vector<std::string> fakeReplies() {
    std::lock_guard<std::mutex> guard(lock);
    return replies;
}

// The serial link.

SystemResult openSerialPort() {
    std::lock_guard<std::mutex> guard(lock);
    bool result = world.serialOpenDefault;
    if (!world.serialOpens.empty()) {
        result = world.serialOpens.front();
        world.serialOpens.pop_front();
    }
    if (portOpen) result = false; // held exclusively by an earlier open
    if (result) portOpen = true;
    traceLocked(result ? "open serial" : "open serial failed");
    SystemResult opened;
    if (!result) {
        opened.ok = false;
        opened.error = EBUSY;
        copyText(opened.reason, sizeof opened.reason,
                 "cannot open the serial port: the fake said no");
    }
    return opened;
}

bool writePollByte() {
    std::lock_guard<std::mutex> guard(lock);
    bool result = portOpen;
    if (!world.pollResults.empty()) {
        result = result && world.pollResults.front();
        world.pollResults.pop_front();
    }
    traceLocked(result ? "poll" : "poll failed");
    return result;
}

bool readDeviceLine(char* line, int* length) {
    line[0] = '\0';
    if (length != nullptr) *length = 0;
    std::unique_lock<std::mutex> guard(lock);
    if (portOpen && world.lines.empty() && world.lineReadBlocks) {
        ++lineReadsWaiting;
        changed.notify_all();
        blockWhile(guard, portOpen);
        --lineReadsWaiting;
    }
    if (!portOpen || world.lines.empty()) {
        traceLocked("read line failed");
        return false;
    }
    const size_t copied = copyText(line, deviceLineBufferSize, world.lines.front().c_str());
    if (length != nullptr) *length = static_cast<int>(copied);
    world.lines.pop_front();
    if (world.afterLineRead) world.afterLineRead();
    traceLocked("read line");
    return true;
}

void closeSerialPort() {
    std::lock_guard<std::mutex> guard(lock);
    if (!portOpen) return;
    portOpen = false;
    traceLocked("close serial");
}

bool serialPortIsOpen() {
    return fakePortOpen();
}

// The LAN server.

// A failed open, as the real server reports one.
SystemResult lanOpenFailure() {
    SystemResult failed{false, EADDRINUSE, ""};
    copyText(failed.reason, sizeof failed.reason,
             "cannot bind 0.0.0.0:8096: Address already in use");
    return failed;
}

SystemResult openLanServer() {
    std::unique_lock<std::mutex> guard(lock);
    int result = world.lanOpenDefault;
    if (!world.lanOpens.empty()) {
        result = world.lanOpens.front();
        world.lanOpens.pop_front();
    }
    if (result == 0) {
        traceLocked("open lan failed");
        return lanOpenFailure();
    }
    listenOpen = true;
    if (result < 0) {
        traceLocked("accept");
        blockWhile(guard, listenOpen);
        traceLocked("open lan failed");
        return lanOpenFailure();
    }
    clientOpen = true;
    traceLocked("open lan");
    return SystemResult{};
}

int readRequest() {
    std::unique_lock<std::mutex> guard(lock);
    if (clientOpen && world.requests.empty() && world.requestReadBlocks) {
        traceLocked("wait request");
        changed.wait(guard, [] { return !clientOpen || !world.requests.empty(); });
    }
    int command = -1;
    if (clientOpen && !world.requests.empty()) {
        command = world.requests.front();
        world.requests.pop_front();
    }
    traceLocked(command < 0 ? "read request failed" : "request " + std::string(1, char(command)));
    return command;
}

bool requestWithin(int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock);
    if (clientOpen && world.requests.empty() && world.requestReadBlocks)
        changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                         [] { return !clientOpen || !world.requests.empty(); });
    return !clientOpen || !world.requests.empty() || !world.requestReadBlocks;
}

ReplyOutcome sendMotionOutput(const MotionOutput& motion, const ButtonState& buttons) {
    std::lock_guard<std::mutex> guard(lock);
    bool result = clientOpen;
    if (!world.sendResults.empty()) {
        result = result && world.sendResults.front();
        world.sendResults.pop_front();
    }
    if (result) {
        char text[256];
        TextBuilder b(text, sizeof text);
        for (float q : motion.quaternion) {
            b.appendFixed(q, 5, 8);
            b.append(",");
        }
        for (int32_t k : buttons.button)
            b.appendInteger(k);
        replies.push_back(text);
    }
    traceLocked(result ? "send" : "send failed");
    return result ? ReplyOutcome::sent : ReplyOutcome::failed;
}

void closeClientSocket() {
    std::lock_guard<std::mutex> guard(lock);
    if (!clientOpen) return;
    clientOpen = false;
    traceLocked("close client");
}

void closeListenSocket() {
    std::lock_guard<std::mutex> guard(lock);
    if (!listenOpen) return;
    listenOpen = false;
    traceLocked("close listen");
}

// The pointer: the real air mouse runs on top of it.

bool openPointer() {
    return true;
}
void closePointer() {}
bool pointerAvailable() {
    return true;
}
bool readScreenSize(int32_t* width, int32_t* height) {
    *width = 1920;
    *height = 1080;
    return true;
}
bool readMonitors(MonitorList*) {
    return false;
}
void setCursorOrigin(int32_t, int32_t) {}
void placeCursor(int32_t x, int32_t y) {
    traceEntry("cursor " + std::to_string(x) + "," + std::to_string(y));
}
void moveCursorBy(int32_t dx, int32_t dy) {
    traceEntry("move " + std::to_string(dx) + "," + std::to_string(dy));
}
bool sendKey(KeyId key, bool down) {
    traceEntry(std::string("key ") + keyName(key) + (down ? " down" : " up"));
    return true;
}
void sendMouseEvent(uint32_t flags, int32_t wheelData) {
    char text[32];
    std::snprintf(text, sizeof text, "event %x %d", flags, wheelData);
    traceEntry(text);
}
