#pragma once
// Which web pages may open the WebSocket: a browser names the page's origin in
// the handshake's Origin header (RFC 6455 section 10.2), so that a server can
// refuse pages it does not know. Any page open in the user's browser could
// otherwise read the device through ws://localhost.

#include <cstddef>

// The reply to a handshake from a page that is not allowed; the client is then
// closed, as after a head that is refused for want of a key.
constexpr char forbiddenOriginReply[] =
    "HTTP/1.1 403 Forbidden\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";

// Whether a complete request head may be answered, given the allowed origins
// (the webSocketOrigins setting: comma-separated; empty allows every page).
// A head without an Origin header comes from a program, not a browser, and
// may; a browser's may when its value is one of the list, letter case aside
// (scheme and host are case-insensitive). The head ends at its first NUL or
// at length.
bool originAllowed(const char* head, size_t length, const char* allowed);
