#include "output/hand/button_map.h"

#include "output/desktop/pointer.h"
#include "output/hand/held_input.h"
#include "protocol/output_note.h"
#include "settings/settings.h"

namespace {

constexpr KeyId modifierKeys[4] = {KeyId::ctrl, KeyId::shift, KeyId::alt, KeyId::super};
constexpr int heldKeyCapacity = 8;

const uint32_t mouseDown[3] = {mouseEventAbsolute | mouseEventLeftDown,
                               mouseEventAbsolute | mouseEventRightDown,
                               mouseEventAbsolute | mouseEventMiddleDown};
const uint32_t mouseUp[3] = {mouseEventAbsolute | mouseEventLeftUp,
                             mouseEventAbsolute | mouseEventRightUp,
                             mouseEventAbsolute | mouseEventMiddleUp};
constexpr int32_t wheelNotch = 120;

void keyDown(ButtonMap& map, KeyId key) {
    if (!sendHeldKey(key, true)) {
        const int i = static_cast<int>(key);
        if (!map.keySaid[i])
            sayNote("keys", NoteLevel::problem,
                    "the key %s cannot be sent here: its button's action does nothing",
                    keyName(key));
        map.keySaid[i] = true;
        return;
    }
    if (map.heldKeyCount < heldKeyCapacity) map.heldKeys[map.heldKeyCount++] = key;
}

// Releases the keys held since `from`, the last pressed first.
void keysUpTo(ButtonMap& map, int from) {
    while (map.heldKeyCount > from)
        sendHeldKey(map.heldKeys[--map.heldKeyCount], false);
}

void tapChord(ButtonMap& map, const ButtonAction& action) {
    const int from = map.heldKeyCount;
    for (int m = 0; m < 4; ++m)
        if (action.modifiers & (1u << m)) keyDown(map, modifierKeys[m]);
    keyDown(map, action.key);
    keysUpTo(map, from);
}

void act(ButtonMap& map, int button, const ButtonAction& action, bool hold,
         BridgeRequests* requests) {
    switch (action.kind) {
    case ActionKind::key:
        tapChord(map, action);
        break;
    case ActionKind::mouse: {
        const int m = static_cast<int>(action.mouse);
        if (action.mouse == MouseAction::wheelUp || action.mouse == MouseAction::wheelDown) {
            sendHeldMouseEvent(mouseEventWheel,
                               action.mouse == MouseAction::wheelUp ? wheelNotch : -wheelNotch);
            break;
        }
        sendHeldMouseEvent(mouseDown[m], 0);
        if (hold)
            map.heldMouse[button] = true;
        else
            sendHeldMouseEvent(mouseUp[m], 0);
        break;
    }
    case ActionKind::bridge:
        if (action.bridge == BridgeAction::recenter) requests->recenter = true;
        if (action.bridge == BridgeAction::clutch) requests->clutchToggle = true;
        if (action.bridge == BridgeAction::airMouse) requests->airMouseToggle = true;
        if (action.bridge == BridgeAction::dwell) requests->dwellToggle = true;
        if (action.bridge == BridgeAction::precision) {
            if (hold) {
                requests->precisionPress = true;
                map.heldPrecision[button] = true;
            } else {
                requests->precisionToggle = true;
            }
        }
        if (action.bridge == BridgeAction::overlay) {
            if (hold) {
                requests->overlayPress = true;
                map.heldOverlay[button] = true;
            } else {
                requests->overlayToggle = true;
            }
        }
        break;
    case ActionKind::gesture: // acts while held, through the hand's gestures
    case ActionKind::none:
        break;
    }
}

void releaseMouse(ButtonMap& map, int button) {
    if (!map.heldMouse[button]) return;
    map.heldMouse[button] = false;
    const ButtonAction& a = map.actions[button].action[0];
    if (a.kind == ActionKind::mouse && static_cast<int>(a.mouse) < 3)
        sendHeldMouseEvent(mouseUp[static_cast<int>(a.mouse)], 0);
}

} // namespace

void setButtonMap(ButtonMap& map, const ButtonActions actions[buttonCount], int32_t longMs,
                  int32_t doubleMs) {
    map = ButtonMap{};
    for (int k = 0; k < buttonCount; ++k) {
        map.actions[k] = actions[k];
        map.mapped[k] = !buttonActionsEmpty(actions[k]);
        map.any = map.any || map.mapped[k];
        map.rules[k].longSeconds = longMs / 1000.0;
        map.rules[k].doubleSeconds = doubleMs / 1000.0;
        map.rules[k].usesLong = actions[k].action[1].kind != ActionKind::none;
        map.rules[k].usesDouble = actions[k].action[2].kind != ActionKind::none;
    }
    resetPressKinds(map.kinds);
}

void loadButtonMap(ButtonMap& map) {
    ButtonActions actions[buttonCount];
    const bool presenter = settings.buttonPreset.load() == ButtonPreset::presenter;
    for (int k = 0; k < buttonCount; ++k) {
        char line[buttonActionsSize];
        getButtonLine(k, line);
        char reason[8];
        TextBuilder ignored(reason, sizeof reason);
        // The file's reader and the tools take only lines that parse.
        if (!parseButtonActions(line, &actions[k], ignored)) actions[k] = ButtonActions{};
        if (line[0] == '\0' && presenter) actions[k] = presenterButtonActions(k);
    }
    // A key said to be missing stays said across the cycles of a worker.
    bool said[keyIdCount];
    for (int i = 0; i < keyIdCount; ++i)
        said[i] = map.keySaid[i];
    setButtonMap(map, actions, settings.longPress.load(), settings.doublePress.load());
    for (int i = 0; i < keyIdCount; ++i)
        map.keySaid[i] = said[i];
}

void decideButtonMap(ButtonMap& map, const ButtonState& buttons, double seconds,
                     ButtonState* forMouse, BridgeRequests* requests) {
    *forMouse = buttons;
    *requests = BridgeRequests{};
    classifyPresses(map.kinds, buttons, seconds, map.rules, map.decided);
    for (int k = 0; k < buttonCount; ++k) {
        if (!map.mapped[k]) continue;
        // The air mouse sees a mapped button as never pressed.
        forMouse->button[k] = 0;
        const PressEvent& e = map.decided[k];
        const ButtonAction& a = map.actions[k].action[static_cast<int>(e.kind)];
        if (e.decided && a.kind == ActionKind::bridge) act(map, k, a, e.begins, requests);
        if (e.ends && map.heldPrecision[k]) {
            map.heldPrecision[k] = false;
            requests->precisionRelease = true;
        }
        if (e.ends && map.heldOverlay[k]) {
            map.heldOverlay[k] = false;
            requests->overlayRelease = true;
        }
    }
}

void sendButtonMap(ButtonMap& map) {
    BridgeRequests ignored;
    for (int k = 0; k < buttonCount; ++k) {
        if (!map.mapped[k]) continue;
        PressEvent& e = map.decided[k];
        const ButtonAction& a = map.actions[k].action[static_cast<int>(e.kind)];
        if (e.decided && a.kind != ActionKind::bridge) act(map, k, a, e.begins, &ignored);
        if (e.ends) releaseMouse(map, k);
        e = PressEvent{};
    }
}

void driveButtonMap(ButtonMap& map, const ButtonState& buttons, double seconds,
                    ButtonState* forMouse, BridgeRequests* requests) {
    decideButtonMap(map, buttons, seconds, forMouse, requests);
    sendButtonMap(map);
}

int tapButtonAction(ButtonMap& map, const ButtonAction& action) {
    BridgeRequests ignored;
    switch (action.kind) {
    case ActionKind::key: {
        act(map, 0, action, false, &ignored);
        int keys = 1;
        for (int m = 0; m < 4; ++m)
            keys += (action.modifiers >> m) & 1;
        return 2 * keys;
    }
    case ActionKind::mouse:
        act(map, 0, action, false, &ignored);
        return action.mouse == MouseAction::wheelUp || action.mouse == MouseAction::wheelDown ? 1
                                                                                              : 2;
    default:
        return 0;
    }
}

bool buttonMapUses(const ButtonMap& map, BridgeAction action) {
    for (int k = 0; k < buttonCount; ++k)
        for (const ButtonAction& a : map.actions[k].action)
            if (map.mapped[k] && a.kind == ActionKind::bridge && a.bridge == action) return true;
    return false;
}

void releaseButtonMap(ButtonMap& map) {
    keysUpTo(map, 0);
    for (int k = 0; k < buttonCount; ++k) {
        releaseMouse(map, k);
        // The air mouse's feel forgets precision mode with the cycle too,
        // and the overlay goes.
        map.heldPrecision[k] = false;
        map.heldOverlay[k] = false;
    }
    resetPressKinds(map.kinds);
}
