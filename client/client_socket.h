#pragma once
// A TCP client connection, shared by the probe and the LAN server tests.
// client_socket_posix.cpp, client_socket_win32.cpp.

#include <cstddef>
#include <cstdint>

#include "output/lan/socket_layer.h"

bool startClientSockets();
// Connects with Nagle's delay off; noSocket when the host cannot be reached.
NativeSocket connectClient(const char* host, const char* port);
// The same, saying why it failed: reason gets the resolver's or the system's
// text, and retryable is true when trying again may help (refused or
// unreachable: the server may not listen yet), false when the name is unknown.
NativeSocket connectClient(const char* host, const char* port, char* reason, size_t reasonSize,
                           bool* retryable);
bool sendAll(NativeSocket socket, const void* data, size_t length);
// Bytes received (> 0), 0 when the peer closed, -1 on an error, -2 when
// nothing arrived within timeoutMs.
int receiveWithin(NativeSocket socket, void* data, size_t length, int timeoutMs);
void shutdownSending(NativeSocket socket);
void closeClient(NativeSocket socket);
// The local port a socket is bound to, 0 when unknown.
uint16_t boundPort(NativeSocket socket);
