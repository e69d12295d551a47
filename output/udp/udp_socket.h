#pragma once
// The datagram socket of the UDP output, one file per platform: BSD sockets
// (udp_socket_posix.cpp) and Winsock (udp_socket_win32.cpp; the shell has
// started Winsock before any worker runs).

#include <cstddef>
#include <cstdint>

// Where datagrams go: a name or an address (an IPv6 one without brackets).
struct UdpTarget {
    char host[256];
    uint16_t port;
};

// A descriptor on POSIX, a SOCKET on Windows.
using UdpSocket = intptr_t;
constexpr UdpSocket noUdpSocket = -1;

// Resolves the target (the one slow step, done once per measurement cycle),
// opens a non-blocking datagram socket and connects it to the first address
// that takes one, so that sends need no address and an ICMP error about an
// earlier datagram comes back as the error of a later send. noUdpSocket on
// failure, with the reason in reason (a name that does not resolve, no socket).
UdpSocket openUdpSocket(const UdpTarget& target, char* reason, size_t reasonSize);

// One send that never waits: 0 when the datagram went out whole, otherwise
// the system's error code (a full send buffer is one too).
int sendUdpDatagram(UdpSocket socket, const unsigned char* data, size_t length);

// The system's text for an error code of sendUdpDatagram.
void describeUdpError(int code, char* out, size_t size);

void closeUdpSocket(UdpSocket socket);
