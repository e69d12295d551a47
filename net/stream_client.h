#pragma once
// A TCP client connection, for the probe, the publisher and the LAN server's
// tests: connect by name (net/name_lookup.h), then the calls of
// net/socket_layer.h.

#include "net/name_lookup.h"
#include "net/socket_layer.h"

// Connects with Nagle's delay off; the reason says what failed and why.
SystemResult connectClient(const char* host, const char* port, NativeSocket* connected);
// Sends everything, in as many calls as it takes; false when one failed.
bool sendAll(NativeSocket socket, const void* data, size_t length);
// Closes a connection; noSocket is fine.
void closeClient(NativeSocket socket);
