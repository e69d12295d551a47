#pragma once
// Inside the socket layer only: the system's socket headers and the few calls
// the portable files (name_lookup.cpp, datagram_socket.cpp) take from the
// platform files.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "net/name_lookup.h"
#include "text/number_text.h"

// The error of the last failed socket call on this thread.
int lastSocketError();
// The error code and the words for a getaddrinfo result other than 0.
int resolverError(int result);
void describeResolverError(int result, char* out, size_t size);
// A socket for one resolved address, set up for its kind (never inherited by
// a child; datagram sockets never block, streams send without Nagle's delay
// once connected); noSocket on failure, with lastSocketError.
NativeSocket openSocketFor(const addrinfo& address, SocketKind kind);
bool connectSocket(NativeSocket socket, const addrinfo& address);
void sendWithoutDelay(NativeSocket socket);

// Marks the result failed with error; its reason, which says what failed,
// gets ": " and the system's words for error.
void failWith(SystemResult& result, TextBuilder& reason, int error);

// "0.0.0.0:PORT", "A.B.C.D:PORT" or "[IPV6]:PORT" for what a listener binds.
void appendListenAddress(TextBuilder& out, const ListenAddress& address, uint16_t port);
// An IPv4 socket address from an address and port in host order.
sockaddr_in ipv4SocketAddress(uint32_t address, uint16_t port);

// Fills *out with what a listener on the address and port binds (every IPv4
// address for ListenFamily::any); the size of the address filled in.
int fillListenAddress(const ListenAddress& address, uint16_t port, sockaddr_storage* out);
