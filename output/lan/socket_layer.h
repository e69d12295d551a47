#pragma once
// The few socket calls that differ between platforms: BSD sockets on POSIX
// (socket_posix.cpp), Winsock on Windows (socket_win32.cpp). Everything else
// of the LAN server is portable and works on these.

#include <cstddef>
#include <cstdint>

#include "text/listen_address.h"

// A descriptor on POSIX, a SOCKET on Windows (whose INVALID_SOCKET is ~0).
using NativeSocket = intptr_t;
constexpr NativeSocket noSocket = -1;

// Starts/stops the socket layer (WSAStartup/WSACleanup on Windows; nothing
// elsewhere). Once per process, before any socket and after the last.
bool startSocketLayer();
void stopSocketLayer();

// An IPv4 stream socket, or noSocket.
NativeSocket openStreamSocket();
// Binds to any local IPv4 address and the given port.
bool bindAnyAddress(NativeSocket listener, uint16_t port);
// Listens with a backlog of one.
bool listenForOne(NativeSocket listener);
// Waits for one connection; the peer's address is taken and dropped.
NativeSocket acceptClient(NativeSocket listener);
// One receive of at most count bytes: how many came, 0 when the peer closed,
// -1 on error.
long receiveBytes(NativeSocket socket, unsigned char* out, size_t count);
// One send call; the count it reported (0 or less on failure).
long sendBytes(NativeSocket socket, const char* data, size_t length);
// Makes a call blocked on the socket return at once, and every later call on it
// fail. True when that also closed the socket (then it must not be closed again).
bool interruptSocket(NativeSocket socket);
void closeNativeSocket(NativeSocket socket);

// A stream socket bound to the address and port: IPv4 or IPv6 as the address
// is, and for ListenFamily::any every IPv4 address, as bindAnyAddress binds.
// noSocket when it cannot be made or bound (nothing is left open then).
NativeSocket openBoundSocket(const ListenAddress& address, uint16_t port);
