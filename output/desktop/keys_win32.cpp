// Windows keys: one injected keyboard record per key, by virtual key, with
// the extended-key flag for the keys of the navigation block. A key name that
// types a character (A-Z, 0-9, Period, Comma) is the key and shift state that
// give that character on the keyboard layout of the window in front
// (VkKeyScanExW), as on X and uinput: "." arrives as "." under AZERTY, where
// it is a shifted key, and B as "b" wherever the layout puts it. Virtual keys
// rather than KEYEVENTF_UNICODE, since a slide program's shortcuts listen
// for keys, not characters alone.
#include "output/desktop/held_keys.h"
#include "output/desktop/keys.h"

#include <windows.h>

namespace {

// By KeyId (from KeyId::a on): the US virtual key, what serves where the
// layout has no key for the character.
constexpr WORD winKeys[keyIdCount - 1] = {
    // clang-format off
    'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R',
    'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z',
    '0', '1', '2', '3', '4', '5', '6', '7', '8', '9',
    VK_F1, VK_F2, VK_F3, VK_F4, VK_F5, VK_F6, VK_F7, VK_F8, VK_F9, VK_F10, VK_F11, VK_F12,
    VK_NEXT, VK_PRIOR, VK_HOME, VK_END, VK_UP, VK_DOWN, VK_LEFT, VK_RIGHT,
    VK_RETURN, VK_SPACE, VK_ESCAPE, VK_TAB, VK_BACK, VK_DELETE, VK_INSERT,
    VK_OEM_PERIOD, VK_OEM_COMMA,
    VK_LCONTROL, VK_LSHIFT, VK_LMENU, VK_LWIN,
    VK_VOLUME_UP, VK_VOLUME_DOWN,
    // clang-format on
};

// The character a key name types on a US keyboard, 0 for the others.
wchar_t keyCharacter(KeyId key) {
    if (key >= KeyId::a && key <= KeyId::z)
        return static_cast<wchar_t>(L'a' + (static_cast<int>(key) - static_cast<int>(KeyId::a)));
    if (key >= KeyId::digit0 && key <= KeyId::digit9)
        return static_cast<wchar_t>(L'0' +
                                    (static_cast<int>(key) - static_cast<int>(KeyId::digit0)));
    if (key == KeyId::period) return L'.';
    if (key == KeyId::comma) return L',';
    return 0;
}

bool extendedKey(WORD vk) {
    switch (vk) {
    case VK_NEXT:
    case VK_PRIOR:
    case VK_HOME:
    case VK_END:
    case VK_UP:
    case VK_DOWN:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_DELETE:
    case VK_INSERT:
    case VK_LWIN:
    case VK_VOLUME_UP:
    case VK_VOLUME_DOWN:
        return true;
    default:
        return false;
    }
}

// The layout the keys go to: the window in front's, else this thread's.
HKL foregroundLayout() {
    const HWND front = GetForegroundWindow();
    return GetKeyboardLayout(front ? GetWindowThreadProcessId(front, nullptr) : 0);
}

HeldKeys held;
bool sentAll = true;

void sendVirtualKey(uint16_t vk, bool down) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyExW(vk, MAPVK_VK_TO_VSC, foregroundLayout()));
    input.ki.dwFlags = (extendedKey(vk) ? KEYEVENTF_EXTENDEDKEY : 0) | (down ? 0 : KEYEVENTF_KEYUP);
    if (SendInput(1, &input, sizeof input) != 1) sentAll = false;
}

// The virtual key and the shift keys that type the key's character on the
// layout in front; the US virtual key where it has none (or one that needs a
// shift state other than Shift, Ctrl and Alt).
KeyStroke strokeFor(KeyId key) {
    KeyStroke stroke;
    stroke.key = winKeys[static_cast<int>(key) - 1];
    const wchar_t character = keyCharacter(key);
    if (character == 0) return stroke;
    const SHORT found = VkKeyScanExW(character, foregroundLayout());
    if (found == -1 || (HIBYTE(found) & ~7) != 0) return stroke;
    stroke.key = LOBYTE(found);
    // Ctrl and Alt together are AltGr.
    if (HIBYTE(found) & 1) stroke.modifier[stroke.modifierCount++] = VK_LSHIFT;
    if (HIBYTE(found) & 2) stroke.modifier[stroke.modifierCount++] = VK_LCONTROL;
    if (HIBYTE(found) & 4) stroke.modifier[stroke.modifierCount++] = VK_LMENU;
    return stroke;
}

} // namespace

bool sendKey(KeyId key, bool down) {
    if (key == KeyId::none || key == KeyId::count) return false;
    sentAll = true;
    const bool done = down ? pressStroke(held, key, strokeFor(key), sendVirtualKey)
                           : releaseStroke(held, key, sendVirtualKey);
    return done && sentAll;
}
