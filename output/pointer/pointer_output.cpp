#include "output/pointer/pointer_output.h"

#include <chrono>

#include "output/pointer/air_mouse.h"
#include "output/pointer/button_map.h"
#include "output/pointer/mouse_feel.h"
#include "output/pointer/pointer.h"
#include "output/pointer/screen_choice.h"
#include "protocol/output_note.h"
#include "settings/settings.h"

namespace {

// The buttons as the user mapped them; the worker's thread only.
ButtonMap buttonMap{};

bool mouseOn() {
    return settings.mouseEnabled.load() != 0;
}

// The screen mouseScreen chooses, from the monitors as they are at the
// worker's start: a monitor that has gone since is said, and the primary one
// is taken. Where the monitors are not known, the screen read at start-up.
void useMouseScreen() {
    const int32_t which = settings.mouseScreen.load();
    MonitorList monitors{};
    if (!readMonitors(&monitors)) {
        setCursorOrigin(0, 0);
        if (which != mouseScreenPrimary)
            sayNote("pointer", NoteLevel::problem,
                    "air mouse: mouseScreen cannot choose here (the monitors are not known); "
                    "the screen is %dx%d",
                    static_cast<int>(screenWidth.load()), static_cast<int>(screenHeight.load()));
        return;
    }
    const ScreenPick pick = chooseScreen(monitors, which);
    if (pick.rect.width <= 0 || pick.rect.height <= 0) return;
    screenWidth = pick.rect.width;
    screenHeight = pick.rect.height;
    setCursorOrigin(pick.rect.x, pick.rect.y);
    // One monitor and the default: nothing to choose, nothing said.
    if (which == mouseScreenPrimary && monitors.count <= 1) return;
    char note[160 + maxMonitors * 48];
    TextBuilder text(note, sizeof note);
    if (pick.missing) {
        text.append("air mouse: monitor ");
        text.appendInteger(which);
        text.append(" is not there (mouseScreen); the primary one instead, ");
    } else {
        text.append(which == mouseScreenAll ? "air mouse: every monitor, "
                    : pick.number == 0      ? "air mouse: the whole screen, "
                                            : "air mouse: monitor ");
        if (which != mouseScreenAll && pick.number != 0) {
            text.appendInteger(pick.number);
            text.append(", ");
        }
    }
    appendScreenRect(text, pick.rect);
    text.append("; monitors: ");
    appendMonitors(text, monitors);
    if (which == mouseScreenPrimary)
        text.append("; mouseScreen=all or a number reaches the others");
    sayNote("pointer", pick.missing ? NoteLevel::problem : NoteLevel::info, "%s", note);
}

// A new worker (the Run command) forgets a recenter's or a clutch's
// reference; a restart keeps it.
void prepareMouse() {
    if (mouseOn()) useMouseScreen();
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
