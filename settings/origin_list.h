#pragma once
// The webSocketOrigins setting: the web pages allowed to open a WebSocket to
// the LAN server, as a comma-separated list of origins as browsers send them
// ("null" for a page opened from a file, "http://localhost:8000").

#include <cstddef>

#include "text/number_text.h"

// The next origin of the list from *cursor on, blanks around it dropped;
// false at the end. *cursor moves past it and its comma.
bool nextOrigin(const char** cursor, const char** origin, size_t* length);

// Whether every entry is "null" or SCHEME://HOST[:PORT] with nothing after;
// false with the reason when one is not. An empty list passes (no check).
bool checkOriginList(const char* text, TextBuilder& reason);
