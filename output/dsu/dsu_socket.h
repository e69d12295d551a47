#pragma once
// The DSU server's datagram socket, one file per platform: BSD sockets
// (dsu_socket_posix.cpp) and Winsock (dsu_socket_win32.cpp; the shell has
// started Winsock before any worker runs). IPv4 only, as the clients are.

#include <cstddef>
#include <cstdint>

using DsuSocket = intptr_t;
constexpr DsuSocket noDsuSocket = -1;

// An IPv4 address and port, both in host order.
struct DsuPeer {
    uint32_t address = 0;
    uint16_t port = 0;
};

inline bool operator==(const DsuPeer& a, const DsuPeer& b) {
    return a.address == b.address && a.port == b.port;
}

// Whether address is 127.0.0.0/8: a packet from there came from this machine.
inline bool dsuLoopback(uint32_t address) {
    return (address >> 24) == 127;
}

// Reads "a.b.c.d" into *address (host order); false for anything else.
bool parseDsuAddress(const char* text, uint32_t* address);

// Binds a non-blocking datagram socket to address:port (port 0: any free
// one). noDsuSocket on failure, with the reason in reason.
DsuSocket openDsuSocket(uint32_t address, uint16_t port, char* reason, size_t reasonSize);

// The port the socket is bound to.
uint16_t dsuSocketPort(DsuSocket socket);

// Waits at most milliseconds for a datagram: 1 one is there, 0 none came,
// -1 the socket failed.
int waitDsuReadable(DsuSocket socket, int milliseconds);

// One datagram: its whole size (which may exceed capacity: the rest was
// dropped), 0 when none was waiting, -1 when the socket failed.
long receiveDsuDatagram(DsuSocket socket, uint8_t* data, size_t capacity, DsuPeer* from);

// One send that never waits; false when the system refused it.
bool sendDsuDatagram(DsuSocket socket, const uint8_t* data, size_t size, const DsuPeer& to);

void closeDsuSocket(DsuSocket socket);
