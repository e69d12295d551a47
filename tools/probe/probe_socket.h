#pragma once
// The probe's one TCP connection: connect, send, receive with a time-out.
// probe_socket_posix.cpp, probe_socket_win32.cpp.

#include <cstddef>
#include <cstdint>

bool startProbeSockets();
// Connects with Nagle's delay off; false when the host cannot be reached.
bool connectProbe(const char* host, const char* port);
bool sendProbe(const void* data, size_t length);
// Bytes received (> 0), 0 when the peer closed, -1 on an error, -2 when
// nothing arrived within timeoutMs.
int receiveProbe(void* data, size_t length, int timeoutMs);
void closeProbe();
