#pragma once
// The keyboard backend beneath the buttons' actions: one key down or up at a
// time, by key identity. keys_win32.cpp (SendInput); on Linux
// pointer_linux.cpp passes it to the pointer's own backend (XTest on its
// connection, or a uinput keyboard beside the uinput pointer); the decoder
// prints, and tests record.

#include "settings/button_actions.h"

// False when this platform (or the running keyboard map) has no such key, or
// there is no way to send keys now; the caller says so to people.
bool sendKey(KeyId key, bool down);
