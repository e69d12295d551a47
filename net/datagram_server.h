#pragma once
// A datagram socket that serves whoever sends to it (the DSU server's): bound
// to an address, receiving with the sender's address and answering it. IPv4
// only, as those clients are. One file per platform:
// datagram_server_posix.cpp and datagram_server_win32.cpp (Winsock, started
// by the shell before any worker runs).

#include <cstddef>
#include <cstdint>

#include "net/socket_layer.h"

// An IPv4 address and port, both in host order.
struct DatagramPeer {
    uint32_t address = 0;
    uint16_t port = 0;
};

inline bool operator==(const DatagramPeer& a, const DatagramPeer& b) {
    return a.address == b.address && a.port == b.port;
}

// Whether address is 127.0.0.0/8: a packet from there came from this machine.
inline bool isLoopbackIpv4(uint32_t address) {
    return (address >> 24) == 127;
}

// Reads "a.b.c.d" into *address (host order); false for anything else.
bool parseIpv4Address(const char* text, uint32_t* address);

// Binds a non-blocking datagram socket to address:port (port 0: any free
// one) into *opened (noSocket on failure, the reason saying what failed:
// "cannot bind UDP 127.0.0.1:26760: Address already in use").
SystemResult openDatagramServer(uint32_t address, uint16_t port, NativeSocket* opened);

// What a failed bind means for whoever chose the address and port.
enum class BindFailure : uint8_t {
    other,
    portInUse,      // another socket holds the port on that address
    addressNotHere, // no interface of this machine has the address
    denied,         // the system keeps the port (a low port, an excluded range)
};
BindFailure bindFailureOf(const SystemResult& failure);

// Waits at most milliseconds for a datagram: 1 one is there, 0 none came,
// -1 the socket failed.
int waitReadable(NativeSocket socket, int milliseconds);

// One datagram: its whole size (which may exceed capacity: the rest was
// dropped), 0 when none was waiting, -1 when the socket failed.
long receiveDatagramFrom(NativeSocket socket, uint8_t* data, size_t capacity, DatagramPeer* from);

// One send that never waits; false when the system refused it.
bool sendDatagramTo(NativeSocket socket, const uint8_t* data, size_t size, const DatagramPeer& to);
