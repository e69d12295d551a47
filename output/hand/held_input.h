#pragma once
// What the bridge holds down right now, whoever pressed it: the air mouse's
// own buttons, a mapped button's mouse button or key, a dwell drag. Every
// button and key event of the air mouse's output goes through here, so that
// one release lets everything go at every end (a restart, a stop, a quiet
// client) and nothing stays pressed on the desktop after the bridge.
// The worker's thread only.

#include <cstdint>

#include "settings/button_actions.h"

// sendMouseEvent and sendKey (pointer.h, keys.h), noting what goes down and up.
void sendHeldMouseEvent(uint32_t flags, int32_t wheelData);
bool sendHeldKey(KeyId key, bool down);
bool inputHeld();
// The up of every mouse button and key still down, the keys last pressed
// first; nothing at all when nothing is down (so a second call is silent).
// Whether anything was.
bool releaseHeldInput();
