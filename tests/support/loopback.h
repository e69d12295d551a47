#pragma once
// Loopback TCP clients for the tests (Linux and Windows), on the client
// calls of the socket layer; every wait is bounded.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/socket_layer.h"
#include "net/stream_client.h"

using Bound = std::chrono::milliseconds;

// A TCP port that was free a moment ago (bound to port 0 and closed again).
uint16_t freePort();
// Connects to 127.0.0.1:port, retrying refusals until the server listens or the
// bound passes; noSocket then.
NativeSocket connectLoopback(uint16_t port, Bound bound = Bound(10000));
// A listener of the test's own on any address, to hold a port.
NativeSocket listenOn(uint16_t port);
bool sendText(NativeSocket socket, const std::string& bytes);
// Receives exactly count bytes; fewer when the peer closed or the bound passed.
std::string receiveCount(NativeSocket socket, size_t count, Bound bound = Bound(10000));
// Receives until the peer closes; *closed tells whether it did (a reset
// counts as closed) within the bound.
std::string receiveUntilClosed(NativeSocket socket, bool* closed, Bound bound = Bound(10000));

// One connection that closes itself.
struct Client {
    NativeSocket fd = noSocket;
    Client() = default;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    ~Client() { close(); }

    // Keeps trying until the server listens (bounded).
    bool connectTo(int port, Bound bound = Bound(10000));
    bool send(const std::string& bytes) { return sendText(fd, bytes); }
    // Exactly n bytes; false on close or time-out.
    bool receive(size_t n, std::string* out, Bound bound = Bound(5000));
    // True when the peer closed the connection (reads and drops anything else).
    bool closedByPeer(Bound bound = Bound(10000));
    void close();
};
