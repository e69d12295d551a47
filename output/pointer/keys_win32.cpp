// Windows keys: one injected keyboard record per call, by virtual key, with
// the extended-key flag for the keys of the navigation block.
#include "output/pointer/keys.h"

#include <windows.h>

namespace {

struct WinKey {
    WORD vk;
    bool extended;
};

// By KeyId (from KeyId::a on).
constexpr WinKey winKeys[keyIdCount - 1] = {
    // clang-format off
    {'A', false}, {'B', false}, {'C', false}, {'D', false}, {'E', false}, {'F', false},
    {'G', false}, {'H', false}, {'I', false}, {'J', false}, {'K', false}, {'L', false},
    {'M', false}, {'N', false}, {'O', false}, {'P', false}, {'Q', false}, {'R', false},
    {'S', false}, {'T', false}, {'U', false}, {'V', false}, {'W', false}, {'X', false},
    {'Y', false}, {'Z', false},
    {'0', false}, {'1', false}, {'2', false}, {'3', false}, {'4', false}, {'5', false},
    {'6', false}, {'7', false}, {'8', false}, {'9', false},
    {VK_F1, false}, {VK_F2, false}, {VK_F3, false}, {VK_F4, false}, {VK_F5, false},
    {VK_F6, false}, {VK_F7, false}, {VK_F8, false}, {VK_F9, false}, {VK_F10, false},
    {VK_F11, false}, {VK_F12, false},
    {VK_NEXT, true}, {VK_PRIOR, true}, {VK_HOME, true}, {VK_END, true},
    {VK_UP, true}, {VK_DOWN, true}, {VK_LEFT, true}, {VK_RIGHT, true},
    {VK_RETURN, false}, {VK_SPACE, false}, {VK_ESCAPE, false}, {VK_TAB, false},
    {VK_BACK, false}, {VK_DELETE, true}, {VK_INSERT, true},
    {VK_OEM_PERIOD, false}, {VK_OEM_COMMA, false},
    {VK_LCONTROL, false}, {VK_LSHIFT, false}, {VK_LMENU, false}, {VK_LWIN, true},
    // clang-format on
};

} // namespace

bool sendKey(KeyId key, bool down) {
    if (key == KeyId::none || key == KeyId::count) return false;
    const WinKey k = winKeys[static_cast<int>(key) - 1];
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = k.vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(k.vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = (k.extended ? KEYEVENTF_EXTENDEDKEY : 0) | (down ? 0 : KEYEVENTF_KEYUP);
    input.ki.time = 0;
    input.ki.dwExtraInfo = 0;
    return SendInput(1, &input, sizeof input) == 1;
}
