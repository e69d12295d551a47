#include "output/pointer/pointer_output.h"

#include <chrono>

#include "output/pointer/air_mouse.h"
#include "output/pointer/button_map.h"
#include "output/pointer/mouse_feel.h"
#include "protocol/output_note.h"
#include "settings/settings.h"

namespace {

// The buttons as the user mapped them; the worker's thread only.
ButtonMap buttonMap{};

bool mouseOn() {
    return settings.mouseEnabled.load() != 0;
}

// A new worker (the Run command) forgets a recenter's or a clutch's
// reference; a restart keeps it.
void prepareMouse() {
    computeScreenDistancePixels();
    resetMouseReference();
    const MouseFeel feel = mouseFeelFromSettings();
    if (mouseOn() && feel.dwellClick != DwellClick::off) {
        constexpr const char* kinds[] = {"", "a left click", "a right click", "a double click",
                                         "the left button pressed, the next rest releases it"};
        sayNote("pointer", NoteLevel::info,
                "air mouse: dwell click on: %s when the cursor rests %ld ms within %ld px",
                kinds[static_cast<int>(feel.dwellClick)], static_cast<long>(feel.dwellTimeMs),
                static_cast<long>(feel.dwellRadius));
    }
}

// Each cycle, the buttons (and the feel's smoothing and gestures) start
// afresh; the buttons' mapping is read again.
void beginMouse() {
    resetPreviousButtons();
    resetMouseFeel();
    releaseButtonMap(buttonMap);
    loadButtonMap(buttonMap);
}

OutputOutcome driveMouse(const LinePass& pass) {
    if (!pass.accepted || !mouseOn()) return {};
    const double seconds = std::chrono::duration<double>(pass.received.time_since_epoch()).count();
    if (!buttonMap.any) {
        driveAirMouse(*pass.mouseOutput, *pass.buttons, seconds, mouseFeelFromSettings());
        return {};
    }
    ButtonState forMouse;
    BridgeRequests requests;
    decideButtonMap(buttonMap, *pass.buttons, seconds, &forMouse, &requests);
    driveAirMouseWith(*pass.mouseOutput, forMouse, seconds, mouseFeelFromSettings(), requests);
    sendButtonMap(buttonMap);
    return {};
}

// No key or button stays down past the cycle or the worker that pressed it.
void releaseKeys() {
    releaseButtonMap(buttonMap);
    releaseMouseFeel();
}

} // namespace

const LineOutput pointerOutput = {
    .prepare = prepareMouse,
    .readsUnasked = mouseOn,
    .begin = beginMouse,
    .pass = driveMouse,
    .restart = releaseKeys,
    .finish = releaseKeys,
};
