#pragma once
// The sockets every part of the system uses: the LAN server, the UDP output,
// the client library and the tools through it. BSD sockets on POSIX
// (socket_posix.cpp), Winsock on Windows (socket_win32.cpp); everything above
// this layer is portable. A call that opens something returns a SystemResult
// with the system's error and the reason in words.

#include <cstddef>
#include <cstdint>

#include "text/listen_address.h"
#include "text/system_result.h"

// A descriptor on POSIX, a SOCKET on Windows (whose INVALID_SOCKET is ~0).
using NativeSocket = intptr_t;
constexpr NativeSocket noSocket = -1;

// Starts/stops the socket layer (WSAStartup/WSACleanup on Windows; nothing
// elsewhere). Once per process, before any socket and after the last.
bool startSocketLayer();
void stopSocketLayer();

// A TCP socket on the address and port, listening with a backlog of one:
// every IPv4 address for ListenFamily::any (the default), else IPv4 or IPv6
// as the address is ("::" then serves IPv4 clients too). A port some other
// socket listens on is refused; one whose last connection is still in
// TIME_WAIT is not.
SystemResult openListener(uint16_t port, NativeSocket* listener,
                          const ListenAddress& address = ListenAddress{});
// Waits for one connection; the peer's address is taken and dropped. Fails
// also when the listener was interrupted meanwhile.
SystemResult acceptClient(NativeSocket listener, NativeSocket* client);
// One receive of at most count bytes: how many came, 0 when the peer closed,
// -1 on error.
long receiveBytes(NativeSocket socket, unsigned char* out, size_t count);
// The same, waiting at most timeoutMs for something to arrive: -2 when
// nothing did.
long receiveWithin(NativeSocket socket, void* out, size_t count, int timeoutMs);
// Waits at most timeoutMs for something to read (or the end of the stream,
// or an error, which the next receive then finds): false when nothing came.
bool waitToReceive(NativeSocket socket, int timeoutMs);
// One send call; the count it reported (0 or less on failure).
long sendBytes(NativeSocket socket, const void* data, size_t length);
// Tells the peer nothing more comes (a FIN); receives still work.
void shutdownSending(NativeSocket socket);
// Makes a call blocked on the socket return at once, and every later call on it
// fail. True when that also closed the socket (then it must not be closed again).
bool interruptSocket(NativeSocket socket);
void closeNativeSocket(NativeSocket socket);
// The local port a socket is bound to, 0 when unknown.
uint16_t boundPort(NativeSocket socket);

// The system's words for a socket error (errno; a Winsock error on Windows),
// without a line end or full stop.
void describeSocketError(int error, char* out, size_t size);
