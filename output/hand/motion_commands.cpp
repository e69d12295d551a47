#include "output/hand/motion_commands.h"

#include "output/desktop/pointer.h"
#include "output/hand/held_input.h"
#include "protocol/output_note.h"
#include "settings/settings.h"

namespace {

constexpr int32_t wheelNotch = 120;

// A key the platform refuses is said once a cycle.
void tap(MotionCommands& commands, KeyId key) {
    if (sendHeldKey(key, true)) {
        sendHeldKey(key, false);
        return;
    }
    if (!commands.keySaid)
        sayNote("keys", NoteLevel::problem, "the key %s cannot be sent here: Volume does nothing",
                keyName(key));
    commands.keySaid = true;
}

void sendGesture(MotionCommands& commands, const GestureStep& step) {
    if (step.wheel != 0) {
        if (step.withCtrl) sendHeldKey(KeyId::ctrl, true);
        sendHeldMouseEvent(mouseEventWheel, step.wheel * wheelNotch);
        if (step.withCtrl) sendHeldKey(KeyId::ctrl, false);
    }
    if (step.hWheel != 0) sendHeldMouseEvent(mouseEventHWheel, step.hWheel * wheelNotch);
    for (int32_t n = 0; n < step.volume; ++n)
        tap(commands, KeyId::volumeUp);
    for (int32_t n = 0; n > step.volume; --n)
        tap(commands, KeyId::volumeDown);
}

bool flicksAct(const MotionCommands& commands, const ButtonState& buttons, bool airMouseOff) {
    if (!commands.anyFlick) return false;
    if (commands.flickWhen == flickWhenAlways) return true;
    if (commands.flickWhen == flickWhenAirMouseOff) return airMouseOff;
    const int32_t held = commands.flickWhen;
    return held >= 0 && held < buttonCount && buttons.button[held] == 1;
}

} // namespace

void loadMotionCommands(MotionCommands& commands) {
    commands = MotionCommands{};
    commands.rules.deadZone = settings.gestureDeadZone.load();
    commands.rules.scrollRate = settings.scrollRate.load();
    commands.rules.scrollMax = settings.scrollMax.load();
    commands.rules.volumeStep = settings.volumeStep.load();
    commands.flickRules.speed = settings.flickSpeed.load();
    commands.flickRules.time = settings.flickTime.load() / 1000.0;
    commands.flickWhen = settings.flickWhen.load();
    for (int f = 0; f < flickCount; ++f) {
        char line[buttonActionsSize];
        getFlickLine(f, line);
        char reason[8];
        TextBuilder ignored(reason, sizeof reason);
        if (!parseSingleAction(line, &commands.flicks[f], ignored)) commands.flicks[f] = {};
        commands.anyFlick = commands.anyFlick || commands.flicks[f].kind != ActionKind::none;
    }
}

bool motionCommandsRead(const MotionCommands& commands) {
    return commands.anyFlick;
}

MotionHold driveMotionCommands(MotionCommands& commands, ButtonMap& map, const ButtonState& buttons,
                               const float quaternion[4], double seconds, bool airMouseOff) {
    MotionHold hold;
    commands.lastFlick = FlickDirection::none;
    commands.lastFlickEvents = 0;
    double q[4];
    const bool usable = unitQuaternion(quaternion, q);
    bool anyGesture = false;
    for (int k = 0; k < buttonCount; ++k) {
        const bool pressed = buttons.button[k] == 1;
        if (pressed && !commands.down[k] && usable)
            for (int i = 0; i < 4; ++i)
                commands.pressedAt[k][i] = q[i];
        // A release as the press kinds count it: bounce does not end it.
        commands.releasedRun[k] = pressed ? 0 : commands.releasedRun[k] + 1;
        if (pressed) commands.down[k] = true;
        if (commands.releasedRun[k] > bounceSamples) {
            commands.down[k] = false;
            stopGesture(commands.track[k]);
        }
        if (map.mapped[k]) {
            const PressEvent& e = map.decided[k];
            const ButtonAction& a = map.actions[k].action[static_cast<int>(e.kind)];
            // Decided while the button is still down: the gesture runs
            // until its release, measured from the press.
            if (e.decided && a.kind == ActionKind::gesture && commands.down[k] && !e.ends)
                startGesture(commands.track[k], a.gesture, commands.pressedAt[k], seconds);
        }
        GestureTrack& track = commands.track[k];
        if (!track.active) continue;
        anyGesture = true;
        // Nothing while the button is up, bounce or not: a release stops
        // the scrolling at once.
        if (!pressed) {
            track.lastSeconds = seconds;
        } else if (usable) {
            sendGesture(commands, stepGesture(track, commands.rules, q, seconds));
        }
    }

    FlickStep flick;
    if (usable && flicksAct(commands, buttons, airMouseOff)) {
        flick = stepFlick(commands.flick, commands.flickRules, q, seconds);
    } else {
        commands.flick = FlickTrack{.last = commands.flick.last, .lastAt = commands.flick.lastAt};
    }
    if (flick.flick != FlickDirection::none) {
        const ButtonAction& action = commands.flicks[static_cast<int>(flick.flick) - 1];
        commands.lastFlick = flick.flick;
        commands.lastFlickEvents = tapButtonAction(map, action);
    }
    hold.still = anyGesture || flick.underWay;
    hold.since = anyGesture || !flick.underWay ? seconds : flick.since;
    // A fast turn that was no flick gives the cursor back to the aim; after
    // a gesture or a flick it moves on from where it stayed.
    hold.toAim = commands.holding && !commands.holdingGesture && !hold.still &&
                 flick.flick == FlickDirection::none;
    commands.holding = hold.still;
    commands.holdingGesture = anyGesture;
    return hold;
}

void stopMotionCommands(MotionCommands& commands) {
    for (GestureTrack& track : commands.track)
        stopGesture(track);
    commands.flick = FlickTrack{};
    commands.holding = false;
    commands.holdingGesture = false;
}

FlickDirection takeFlick(MotionCommands& commands, int* events) {
    const FlickDirection flick = commands.lastFlick;
    *events = commands.lastFlickEvents;
    commands.lastFlick = FlickDirection::none;
    commands.lastFlickEvents = 0;
    return flick;
}
