#pragma once
// One reply of the bridge, taken apart for republishing: the three d values,
// the four q values and the five buttons.

#include <cstddef>
#include <cstdint>

struct BridgeValues {
    // Each number as the bridge wrote it, without its padding, so that the
    // published values are exactly the bridge's; "null" for a nan or an inf,
    // which JSON cannot carry.
    char numberText[7][32];
    float numbers[7]; // d[0..2], q[0..3]
    int32_t buttons[5];
};

// The plain reply ("%8.3f,...,%d") or, with json set, the WebSocket JSON text
// ({"d":[...],"q":[...],"b":[...]}). False for anything else.
bool parseBridgeReply(const char* text, size_t length, bool json, BridgeValues* values);

// {"d":[..],"q":[..],"b":[..],"t":T,"seq":N} with T the receive time in
// milliseconds since the Unix epoch (microseconds as decimals). Returns the
// length, or 0 when the buffer is too small.
size_t formatMotionPayload(char* out, size_t size, const BridgeValues& values, double receivedMs,
                           uint64_t seq);

// {"b":[..],"t":T,"seq":N}: the buttons of the reply numbered seq.
size_t formatButtonsPayload(char* out, size_t size, const int32_t buttons[5], double receivedMs,
                            uint64_t seq);
