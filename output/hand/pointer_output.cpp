#include "output/hand/pointer_output.h"

#include <chrono>

#include "output/desktop/pointer.h"
#include "output/desktop/screen_choice.h"
#include "output/hand/air_mouse.h"
#include "output/hand/button_map.h"
#include "output/hand/held_input.h"
#include "output/hand/motion_commands.h"
#include "output/hand/mouse_feel.h"
#include "output/overlay/overlay_output.h"
#include "protocol/output_note.h"
#include "settings/settings.h"

namespace {

// Samples that stop coming (measured on their own times, so that a capture
// decodes as the bridge ran) let go of what is held.
constexpr double heldLapseSeconds = heldLapseMs / 1000.0;

// The buttons as the user mapped them; the worker's thread only.
ButtonMap buttonMap{};
// The gestures and the flicks (motion_commands.h); the worker's thread only.
MotionCommands motionCommands{};
// When the last accepted sample arrived (steady seconds); < 0: none yet.
double lastFresh = -1.0;
// A button has the Overlay action (read at the worker's start), and the
// desktop pixel of the chosen screen's top-left corner.
bool overlayUsed = false;
int32_t screenX = 0, screenY = 0;

bool mouseOn() {
    return settings.mouseEnabled.load() != 0;
}

// The device is read for the pointer while the air mouse is on, or while a
// button line (or the presenter preset) gives a button something to do.
bool pointerReads() {
    return mouseOn() || buttonMap.any || motionCommandsRead(motionCommands);
}

double secondsOf(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

// The one release every end goes through: the mapped buttons' keys and
// mouse buttons, a dwell drag, the air mouse's own buttons, then whatever
// is still down. untilLetGo: a device button still held acts again only once
// it has been let go and pressed anew.
void releaseHeld(bool untilLetGo) {
    overlayForget();
    stopMotionCommands(motionCommands);
    releaseButtonMap(buttonMap);
    releaseMouseFeel();
    releaseAirMouseButtons(untilLetGo);
    releaseHeldInput();
}

// No fresh sample for heldLapseSeconds while something is down.
void lapseHeld() {
    if (!inputHeld()) return;
    releaseHeld(true);
    sayNote("pointer", NoteLevel::problem,
            "buttons: no fresh sample for 1 s, so what the device's buttons held is let go; "
            "press the button again once samples come");
}

// The screen mouseScreen chooses, from the monitors as they are at the
// worker's start: a monitor that has gone since is said, and the primary one
// is taken. Where the monitors are not known, the screen read at start-up.
void useMouseScreen() {
    const int32_t which = settings.mouseScreen.load();
    MonitorList monitors{};
    screenX = screenY = 0;
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
    screenX = pick.rect.x;
    screenY = pick.rect.y;
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
    lastFresh = -1.0;
    ButtonMap lines{};
    loadButtonMap(lines);
    overlayUsed = buttonMapUses(lines, BridgeAction::overlay);
    // The overlay follows where the device points on that screen, with the
    // air mouse on or off.
    if (mouseOn() || overlayUsed) useMouseScreen();
    if (overlayUsed) startOverlay(overlayLookFromSettings());
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
    // Relative moves pass through the system's pointer speed and
    // acceleration, as a mouse's do; whoever wonders why a turn goes farther
    // when quick learns it here.
    if (mouseOn() && feel.mode == PointerMode::relative)
        sayNote("pointer", NoteLevel::info,
                "air mouse: relative moves, times relativeGain=%.2g; the system's pointer speed "
                "and acceleration apply to them (on Windows \"Enhance pointer precision\"; "
                "turned off, a turn moves as far at any speed)",
                static_cast<double>(feel.relativeGain));
    if (mouseOn() && feel.mode == PointerMode::hybrid)
        sayNote("pointer", NoteLevel::info,
                "air mouse: hybrid: where the device points, with the centre dragged along past "
                "the screen's edges");
}

// Each cycle, the buttons (and the feel's smoothing and gestures) start
// afresh; the buttons' mapping is read again.
void beginMouse() {
    releaseHeld(false);
    resetPreviousButtons();
    resetMouseFeel();
    loadButtonMap(buttonMap);
    loadMotionCommands(motionCommands);
    lastFresh = -1.0;
    static bool lanSaid = false;
    const bool lan = settings.deviceMode.load() == devicePresetC && settings.lanEnabled.load() != 0;
    if (buttonMap.any && lan && !lanSaid)
        sayNote("pointer", NoteLevel::info,
                "buttons: with the LAN server on (lanEnabled=1), the button lines act only on "
                "the samples a LAN client asks for, and not at all while none asks");
    lanSaid = lanSaid || (buttonMap.any && lan);
}

// The overlay's presses, and where the air mouse puts (or, off, would put)
// the cursor, handed over to the overlay's thread.
void driveOverlay(const LinePass& pass, const BridgeRequests& requests) {
    if (!overlayUsed) return;
    if (requests.overlayPress) overlayHold(true);
    if (requests.overlayRelease) overlayHold(false);
    if (requests.overlayToggle) overlayToggle();
    float fx = 0.0f, fy = 0.0f;
    int32_t x = 0, y = 0;
    if (mouseOn() && feltCursor(&fx, &fy)) {
        x = static_cast<int32_t>(fx);
        y = static_cast<int32_t>(fy);
    } else if (!cursorPosition(*pass.mouseOutput, &x, &y)) {
        return;
    }
    overlayPoint(screenX + x, screenY + y);
}

// The line's own quaternion, which the gestures and flicks read; a pass
// made without its sample has the mouse window's.
const float* lineQuaternion(const LinePass& pass) {
    return pass.sample != nullptr ? pass.sample->value + 3 : pass.mouseOutput->quaternion;
}

// Without the air mouse, only what the mapped buttons send: keys, clicks
// and the wheel, and the overlay; the bridge's other actions have no cursor
// to act on.
void driveButtonsOnly(const LinePass& pass, double seconds) {
    if (!buttonMap.any && !motionCommands.anyFlick) return;
    ButtonState ignored;
    BridgeRequests requests;
    decideButtonMap(buttonMap, *pass.buttons, seconds, &ignored, &requests);
    driveMotionCommands(motionCommands, buttonMap, *pass.buttons, lineQuaternion(pass), seconds,
                        true);
    sendButtonMap(buttonMap);
    driveOverlay(pass, requests);
}

OutputOutcome driveMouse(const LinePass& pass) {
    const double seconds = secondsOf(pass.received);
    // Measured on the samples' own times, so that the decoder does on a
    // capture what the bridge did live.
    if (lastFresh >= 0.0 && seconds - lastFresh > heldLapseSeconds) lapseHeld();
    if (!pass.accepted) return {};
    lastFresh = seconds;
    if (!mouseOn()) {
        driveButtonsOnly(pass, seconds);
        return {};
    }
    if (!buttonMap.any && !motionCommands.anyFlick) {
        driveAirMouse(*pass.mouseOutput, *pass.buttons, seconds, mouseFeelFromSettings());
        return {};
    }
    ButtonState forMouse;
    BridgeRequests requests;
    decideButtonMap(buttonMap, *pass.buttons, seconds, &forMouse, &requests);
    const MotionHold hold = driveMotionCommands(motionCommands, buttonMap, *pass.buttons,
                                                lineQuaternion(pass), seconds, !airMousePointing());
    requests.holdStill = hold.still;
    requests.holdToAim = hold.toAim;
    requests.holdSince = hold.since;
    driveAirMouseWith(*pass.mouseOutput, forMouse, seconds, mouseFeelFromSettings(), requests);
    sendButtonMap(buttonMap);
    driveOverlay(pass, requests);
    return {};
}

// No key or button stays down past the cycle or the worker that pressed it.
void releaseKeys() {
    releaseHeld(false);
}

// The worker's end also ends the overlay's thread, its windows taken away.
void finishMouse() {
    releaseHeld(false);
    stopOverlay();
}

} // namespace

FlickDirection takeFlickOfPass(int* events) {
    return takeFlick(motionCommands, events);
}

const LineOutput pointerOutput = {
    .prepare = prepareMouse,
    .readsUnasked = pointerReads,
    .begin = beginMouse,
    .pass = driveMouse,
    .holding = inputHeld,
    .lapse = lapseHeld,
    .restart = releaseKeys,
    .finish = finishMouse,
};
