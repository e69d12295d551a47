#pragma once
// The datagram socket of the UDP output and the publisher's OSC targets.

#include <cstddef>
#include <cstdint>

#include "net/socket_layer.h"

// Where datagrams go: a name or an address (an IPv6 one without brackets).
struct UdpTarget {
    char host[256];
    uint16_t port;
};

using UdpSocket = NativeSocket;
constexpr UdpSocket noUdpSocket = noSocket;

// Resolves the target (the one slow step, done once per measurement cycle)
// and opens a non-blocking datagram socket connected to the first address that
// takes one, so that sends need no address and an ICMP error about an earlier
// datagram comes back as the error of a later send. The reason names the host:
// "cannot resolve 'HOST': ..." or "no socket for 'HOST': ...".
SystemResult openUdpSocket(const UdpTarget& target, UdpSocket* opened);
// The same with the reason alone; noUdpSocket on failure.
UdpSocket openUdpSocket(const UdpTarget& target, char* reason, size_t reasonSize);

// One send that never waits: 0 when the datagram went out whole, otherwise
// the system's error code (a full send buffer is one too).
int sendUdpDatagram(UdpSocket socket, const unsigned char* data, size_t length);

// Whether the error of a send is an earlier datagram coming back refused (a
// port unreachable): that datagram, which its own send reported as gone out,
// never arrived either.
bool refusedEarlierDatagram(int code);

// The system's text for an error code of sendUdpDatagram.
void describeUdpError(int code, char* out, size_t size);

void closeUdpSocket(UdpSocket socket);
