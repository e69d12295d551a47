#pragma once
// A plain loopback client for the LAN server tests, with every wait bounded.
// lan_test_socket_posix.cpp / lan_test_socket_win32.cpp.

#include <cstddef>
#include <cstdint>
#include <string>

#include "output/socket_layer.h"

// A port that was free a moment ago (bound to port 0 and closed again).
uint16_t findFreePort();
// Connects to 127.0.0.1:port, retrying refusals until the server listens or the
// bound passes; noSocket then. Receives on the socket give up after the bound.
NativeSocket connectLoopback(uint16_t port, int boundMilliseconds = 10000);
// A listener of the test's own on any address, to hold a port.
NativeSocket listenOn(uint16_t port);
bool sendText(NativeSocket socket, const std::string& bytes);
// Receives exactly count bytes; fewer when the peer closed or the bound passed.
std::string receiveCount(NativeSocket socket, size_t count);
// Receives until the peer closes; *closed tells whether it did within the bound.
std::string receiveUntilClosed(NativeSocket socket, bool* closed);
void shutdownSending(NativeSocket socket);
void closeTestSocket(NativeSocket socket);
// Open file descriptors or handles of the process, to see leaks.
int openHandleCount();
