#include "tests/support/recording_pointer.h"

#include <mutex>

#include "output/desktop/keys.h"
#include "output/desktop/pointer.h"
#include "output/desktop/screen_choice.h"

namespace {
std::mutex lock;
PointerCall calls[recordedPointerCapacity];
int count = 0;
int32_t screenW = 1920, screenH = 1080;
bool canAct = true;
bool opened = false;
int refusedKey = 0;
MonitorList monitorList{};
bool monitorsKnown = false;
int32_t originX = 0, originY = 0;

void record(const PointerCall& call) {
    std::lock_guard<std::mutex> guard(lock);
    if (count < recordedPointerCapacity) calls[count] = call;
    ++count;
}
} // namespace

void clearPointerCalls() {
    std::lock_guard<std::mutex> guard(lock);
    count = 0;
}

int copyPointerCalls(PointerCall* out, int max) {
    std::lock_guard<std::mutex> guard(lock);
    for (int i = 0; i < count && i < max && i < recordedPointerCapacity; ++i)
        out[i] = calls[i];
    return count;
}

int pointerCallCount() {
    std::lock_guard<std::mutex> guard(lock);
    return count;
}

void setRecordedScreen(int32_t width, int32_t height, bool available) {
    std::lock_guard<std::mutex> guard(lock);
    screenW = width;
    screenH = height;
    canAct = available;
}

bool openPointer() {
    std::lock_guard<std::mutex> guard(lock);
    opened = canAct;
    return canAct;
}

void closePointer() {
    std::lock_guard<std::mutex> guard(lock);
    opened = false;
}

bool pointerAvailable() {
    std::lock_guard<std::mutex> guard(lock);
    return opened;
}

bool readScreenSize(int32_t* width, int32_t* height) {
    std::lock_guard<std::mutex> guard(lock);
    if (!canAct) return false;
    *width = screenW;
    *height = screenH;
    return true;
}

void setRecordedMonitors(const MonitorList* monitors) {
    std::lock_guard<std::mutex> guard(lock);
    monitorsKnown = monitors != nullptr;
    if (monitors) monitorList = *monitors;
}

bool readMonitors(MonitorList* monitors) {
    std::lock_guard<std::mutex> guard(lock);
    if (monitorsKnown) *monitors = monitorList;
    return monitorsKnown;
}

void setCursorOrigin(int32_t x, int32_t y) {
    std::lock_guard<std::mutex> guard(lock);
    originX = x;
    originY = y;
}

void placeCursor(int32_t x, int32_t y) {
    int32_t ox, oy;
    {
        std::lock_guard<std::mutex> guard(lock);
        ox = originX;
        oy = originY;
    }
    record(PointerCall{PointerCall::place, ox + x, oy + y, 0, 0});
}

void moveCursorBy(int32_t dx, int32_t dy) {
    record(PointerCall{PointerCall::move, dx, dy, 0, 0});
}

void sendMouseEvent(uint32_t flags, int32_t wheelData) {
    record(PointerCall{PointerCall::event, 0, 0, flags, wheelData});
}

void setRefusedKey(int key) {
    std::lock_guard<std::mutex> guard(lock);
    refusedKey = key;
}

bool sendKey(KeyId key, bool down) {
    {
        std::lock_guard<std::mutex> guard(lock);
        if (refusedKey != 0 && static_cast<int>(key) == refusedKey) return false;
    }
    record(PointerCall{PointerCall::key, static_cast<int32_t>(key), down ? 1 : 0, 0, 0});
    return true;
}
