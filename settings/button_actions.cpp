#include "settings/button_actions.h"

#include <cstring>

namespace {

// By KeyId, from KeyId::a on.
constexpr const char* keyNames[] = {
    // clang-format off
    "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O", "P", "Q", "R",
    "S", "T", "U", "V", "W", "X", "Y", "Z",
    "0", "1", "2", "3", "4", "5", "6", "7", "8", "9",
    "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12",
    "PageDown", "PageUp", "Home", "End", "Up", "Down", "Left", "Right",
    "Enter", "Space", "Esc", "Tab", "Backspace", "Delete", "Insert", "Period", "Comma",
    "Ctrl", "Shift", "Alt", "Super",
    "VolumeUp", "VolumeDown",
    // clang-format on
};
static_assert(sizeof keyNames / sizeof keyNames[0] == keyIdCount - 1);

constexpr const char* kindNames[pressKindCount] = {"press", "long", "double"};
constexpr const char* mouseNames[] = {"LeftButton", "RightButton", "MiddleButton", "WheelUp",
                                      "WheelDown"};
constexpr const char* bridgeNames[] = {"Recenter",  "Clutch", "AirMouse",
                                       "Precision", "Dwell",  "Overlay"};
constexpr const char* gestureNames[] = {"Scroll", "HScroll", "Zoom", "Volume"};
constexpr KeyId modifierKeys[4] = {KeyId::ctrl, KeyId::shift, KeyId::alt, KeyId::super};

constexpr const char* nameList =
    "keys A-Z, 0-9, F1-F12, PageDown, PageUp, Home, End, Up, Down, Left, Right, Enter, Space, "
    "Esc, Tab, Backspace, Delete, Insert, Period, Comma, VolumeUp, VolumeDown, after Ctrl+, "
    "Shift+, Alt+ or Super+; or LeftButton, RightButton, MiddleButton, WheelUp, WheelDown, "
    "Recenter, Clutch, AirMouse, Precision, Dwell, Overlay; or the gestures Scroll, HScroll, Zoom, "
    "Volume";

bool sameWord(const char* word, size_t length, const char* name) {
    if (std::strlen(name) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char a = word[i], b = name[i];
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
        if (a != b) return false;
    }
    return true;
}

int findName(const char* word, size_t length, const char* const* names, int count) {
    for (int i = 0; i < count; ++i)
        if (sameWord(word, length, names[i])) return i;
    return -1;
}

void appendWord(TextBuilder& out, const char* word, size_t length) {
    char text[buttonActionsSize];
    if (length >= sizeof text) length = sizeof text - 1;
    std::memcpy(text, word, length);
    text[length] = '\0';
    out.append(text);
}

bool refuse(TextBuilder& reason, const char* word, size_t length, const char* what) {
    reason.append("'");
    appendWord(reason, word, length);
    reason.append(what);
    return false;
}

// One action: a bridge or mouse word, or keys joined by "+", the modifiers
// first and one other key last.
bool parseAction(const char* word, size_t length, ButtonAction* action, TextBuilder& reason) {
    const int mouse = findName(word, length, mouseNames, 5);
    if (mouse >= 0) {
        action->kind = ActionKind::mouse;
        action->mouse = static_cast<MouseAction>(mouse);
        return true;
    }
    const int bridge = findName(word, length, bridgeNames, 6);
    if (bridge >= 0) {
        action->kind = ActionKind::bridge;
        action->bridge = static_cast<BridgeAction>(bridge);
        return true;
    }
    const int gesture = findName(word, length, gestureNames, 4);
    if (gesture >= 0) {
        action->kind = ActionKind::gesture;
        action->gesture = static_cast<GestureAction>(gesture);
        return true;
    }
    action->kind = ActionKind::key;
    action->modifiers = 0;
    action->key = KeyId::none;
    const char* end = word + length;
    // A "+" without a key on one side first: "A+" is a chord cut short, not
    // a key before "+" that is no modifier.
    if (word[length - 1] == '+')
        return refuse(reason, word, length, "' ends in \"+\": name the key after it (Ctrl+A)");
    if (word[0] == '+')
        return refuse(reason, word, length,
                      "' begins with \"+\": name the modifier before it (Ctrl+A)");
    for (const char* part = word; part <= end;) {
        const char* plus = part;
        while (plus < end && *plus != '+')
            ++plus;
        const auto partLength = static_cast<size_t>(plus - part);
        if (partLength == 0)
            return refuse(reason, word, length, "' has \"++\": one \"+\" joins two keys");
        const int found = findName(part, partLength, keyNames, keyIdCount - 1);
        if (found < 0) return refuse(reason, part, partLength, "' is no name the buttons know: ");
        const auto key = static_cast<KeyId>(found + 1);
        const bool last = plus == end;
        uint8_t bit = 0;
        for (int m = 0; m < 4; ++m)
            if (key == modifierKeys[m]) bit = static_cast<uint8_t>(1u << m);
        if (!last && bit == 0)
            return refuse(reason, part, partLength,
                          "' comes before \"+\" but is no modifier (Ctrl, Shift, Alt, Super)");
        if (last && bit != 0 && action->modifiers == 0) {
            action->key = key; // a modifier alone is a key of its own
        } else if (last) {
            if (bit != 0)
                return refuse(reason, word, length, "' ends in a modifier: name the key last");
            action->key = key;
        } else {
            action->modifiers = static_cast<uint8_t>(action->modifiers | bit);
        }
        part = plus + 1;
    }
    return true;
}

} // namespace

const char* keyName(KeyId key) {
    const int i = static_cast<int>(key);
    return i >= 1 && i < keyIdCount ? keyNames[i - 1] : "";
}

const char* pressKindName(PressKind kind) {
    return kindNames[static_cast<int>(kind)];
}

bool buttonActionsEmpty(const ButtonActions& actions) {
    for (const ButtonAction& a : actions.action)
        if (a.kind != ActionKind::none) return false;
    return true;
}

bool parseButtonActions(const char* text, ButtonActions* actions, TextBuilder& reason) {
    ButtonActions parsed{};
    bool given[pressKindCount] = {false, false, false};
    const char* p = text;
    while (true) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (*p == '\0') break;
        const char* end = p;
        while (*end != '\0' && *end != ' ' && *end != '\t')
            ++end;
        const char* colon = p;
        while (colon < end && *colon != ':')
            ++colon;
        int kind = 0;
        const char* action = p;
        if (colon < end) {
            kind = findName(p, static_cast<size_t>(colon - p), kindNames, pressKindCount);
            if (kind < 0)
                return refuse(reason, p, static_cast<size_t>(colon - p),
                              "' is no press kind: press, long or double");
            action = colon + 1;
        }
        // Every reason begins with the word at fault, so that a message
        // need not repeat the whole line before it.
        if (given[kind]) {
            reason.append("'");
            reason.append(kindNames[kind]);
            reason.append("' is given twice: each press kind takes one action");
            return false;
        }
        given[kind] = true;
        if (action == end) {
            reason.append("'");
            reason.append(kindNames[kind]);
            reason.append(":' has no action after it");
            return false;
        }
        if (!parseAction(action, static_cast<size_t>(end - action), &parsed.action[kind], reason)) {
            if (std::strstr(reason.data, "no name the buttons know") != nullptr)
                reason.append(nameList);
            return false;
        }
        p = end;
    }
    *actions = parsed;
    return true;
}

void formatButtonAction(const ButtonAction& action, TextBuilder& out) {
    switch (action.kind) {
    case ActionKind::key:
        for (int m = 0; m < 4; ++m)
            if (action.modifiers & (1u << m)) {
                out.append(keyName(modifierKeys[m]));
                out.append("+");
            }
        out.append(keyName(action.key));
        break;
    case ActionKind::mouse:
        out.append(mouseNames[static_cast<int>(action.mouse)]);
        break;
    case ActionKind::bridge:
        out.append(bridgeNames[static_cast<int>(action.bridge)]);
        break;
    case ActionKind::gesture:
        out.append(gestureNames[static_cast<int>(action.gesture)]);
        break;
    case ActionKind::none:
        break;
    }
}

void formatButtonActions(const ButtonActions& actions, TextBuilder& out) {
    bool first = true;
    for (int kind = 0; kind < pressKindCount; ++kind) {
        if (actions.action[kind].kind == ActionKind::none) continue;
        if (!first) out.append(" ");
        first = false;
        out.append(kindNames[kind]);
        out.append(":");
        formatButtonAction(actions.action[kind], out);
    }
}

bool parseSingleAction(const char* text, ButtonAction* action, TextBuilder& reason) {
    ButtonActions parsed;
    if (!parseButtonActions(text, &parsed, reason)) return false;
    if (parsed.action[1].kind != ActionKind::none || parsed.action[2].kind != ActionKind::none ||
        std::strchr(text, ':') != nullptr) {
        reason.append("is one action alone, without a press kind (for example PageDown)");
        return false;
    }
    if (parsed.action[0].kind == ActionKind::gesture ||
        parsed.action[0].kind == ActionKind::bridge) {
        reason.append(parsed.action[0].kind == ActionKind::gesture
                          ? "is a gesture, which acts while a button is held"
                          : "is one of the bridge's own actions, which only buttons take");
        reason.append(": a flick sends a key or chord, a mouse button's click or a wheel notch");
        return false;
    }
    *action = parsed.action[0];
    return true;
}

ButtonActions presenterButtonActions(int button) {
    // Left and right: next and previous slide; the wheel buttons start and
    // end the show and blank it; the middle button clicks, and recenters
    // when held.
    constexpr const char* lines[buttonCount] = {
        "press:PageDown",
        "press:PageUp",
        "press:F5 long:Shift+F5",
        "press:B long:Esc",
        "press:LeftButton long:Recenter",
    };
    ButtonActions actions{};
    char reason[8];
    TextBuilder ignored(reason, sizeof reason);
    if (button >= 0 && button < buttonCount) parseButtonActions(lines[button], &actions, ignored);
    return actions;
}
