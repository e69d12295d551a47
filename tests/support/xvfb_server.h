#pragma once
// A private Xvfb for tests: the server picks a free display number itself
// (-displayfd), so parallel test runs never share or collide on a display.

#include <sys/types.h>

struct XvfbServer {
    pid_t pid = -1;
    char display[32] = {}; // ":N"
};

// True when an Xvfb program is on the PATH (tests skip without one).
bool xvfbInstalled();
// Starts Xvfb with one screen of width x height (no reset when the last
// client leaves, so tests can reconnect) and waits (bounded) until it
// accepts connections. whiteRoot: a plain white root (-wr), for screenshots.
bool startXvfb(XvfbServer* server, int width, int height, bool whiteRoot = false);
// Ends the server and waits for it (bounded; killed if it lingers).
void stopXvfb(XvfbServer* server);
