#pragma once
// The DSU ("cemuhook") motion server: emulators on this machine (or, when
// dsuAddress says so, on the network) take the device as a motion pad.
// Opt-in (dsuServer=on). A thread of its own answers the clients' requests
// and keeps their subscriptions; the worker's pass only builds one pad-data
// packet per accepted line and sends it, without waiting, to each live
// subscriber.
//
// What comes from the network is input: only requests of at least the
// protocol's sizes (and at most dsuLargestRequest) with the client's magic,
// version 1001, a right CRC and a payload that makes sense are taken. A
// request from another machine may carry a forged sender: it gets at most
// one answer, a few bytes larger than itself, and its pad data lapses
// sooner. Subscribers are few and expire. Bad packets are counted, never
// said one by one.

#include <cstdint>

#include "output/dsu/dsu_protocol.h"
#include "protocol/line_output.h"

extern const LineOutput dsuOutput;

// A subscription lasts this long after the client's last request; clients
// renew every one to three seconds. One from another machine lapses sooner:
// its sender may be forged, and each request then buys at most 2 s of pad
// data to the address it names.
constexpr int64_t dsuSubscriptionMicros = 5000000;
constexpr int64_t dsuRemoteSubscriptionMicros = 2000000;
constexpr int dsuMaxSubscribers = 4;

// The server by itself, for the tests: opens the socket ("a.b.c.d", port 0
// for any) and starts its thread. False, with a note, when it cannot.
bool startDsuServer(const char* address, uint16_t port);
bool dsuServerRunning();
uint16_t dsuServerPort();
// Asks the thread to end (any thread, never waits).
void stopDsuServer();
// Ends the thread and closes the socket; says what the server did.
void closeDsuServer();
// One pad-data packet to every live subscriber; never waits.
void sendDsuPad(const DsuPadState& state);

struct DsuServerCounts {
    uint64_t answered; // version and port answers sent
    uint64_t bad;      // packets that were no request of the protocol
    uint64_t refused;  // pad-data requests left unserved: too many subscribers
    uint64_t padSent;  // pad-data packets handed to the system
    uint64_t padFailed;
};
DsuServerCounts dsuServerCounts();
