#pragma once
// Loopback helpers for the LAN server tests, on the probe's client layer and
// the server's own socket layer; every wait is bounded.

#include <cstddef>
#include <cstdint>
#include <string>

#include "output/socket_layer.h"
#include "tools/probe/client_socket.h"

// A port that was free a moment ago (bound to port 0 and closed again).
uint16_t findFreePort();
// Connects to 127.0.0.1:port, retrying refusals until the server listens or the
// bound passes; noSocket then.
NativeSocket connectLoopback(uint16_t port, int boundMilliseconds = 10000);
// A listener of the test's own on any address, to hold a port.
NativeSocket listenOn(uint16_t port);
bool sendText(NativeSocket socket, const std::string& bytes);
// Receives exactly count bytes; fewer when the peer closed or 10 s passed.
std::string receiveCount(NativeSocket socket, size_t count);
// Receives until the peer closes; *closed tells whether it did within 10 s.
std::string receiveUntilClosed(NativeSocket socket, bool* closed);
