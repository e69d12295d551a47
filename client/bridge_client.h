#pragma once
// The client side of the bridge's LAN protocol, plain or WebSocket: one
// connection, one request "D" at a time, one reply per request or none (a
// device line that fails its check is never answered). Shared by the probe
// and the publisher.

#include <chrono>
#include <csignal>
#include <cstddef>
#include <string>

#include "net/stream_client.h"

using BridgeClock = std::chrono::steady_clock;

struct BridgeLink {
    NativeSocket socket = noSocket;
    bool webSocket = false;
    // Set from a signal handler: every wait ends soon after it is set.
    const volatile std::sig_atomic_t* interrupted = nullptr;
    // Bytes received but not yet taken.
    char data[4096];
    size_t length = 0;
};

enum class BridgeReply { received, missing, closed };

// Sends the opening handshake (the sample key of RFC 6455) and waits for the
// 101 reply until deadline. On false *reply holds what came back, possibly
// nothing (a bridge that speaks the plain dialect never answers).
bool openBridgeWebSocket(BridgeLink& link, const char* host, const char* port,
                         BridgeClock::time_point deadline, std::string* reply);

// One request "D": a byte, or the 7-byte masked frame of the WebSocket dialect.
bool sendBridgeRequest(BridgeLink& link);

// The next reply text (the plain reply, or the JSON text of a frame). missing
// when the deadline passed or the wait was interrupted, closed when the
// connection is gone.
BridgeReply readBridgeReply(BridgeLink& link, BridgeClock::time_point deadline, std::string* text);

// Closes the connection and forgets what was buffered.
void closeBridgeLink(BridgeLink& link);
