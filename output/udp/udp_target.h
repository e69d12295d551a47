#pragma once
// The udpTarget setting, "HOST:PORT": HOST an IPv4 address, a name, or an
// IPv6 address in brackets ("[::1]:4242"); PORT 1..65535.

#include <cstddef>
#include <cstdint>

constexpr size_t udpHostSize = 256; // a name of at most 255 characters

struct UdpTarget {
    char host[udpHostSize]; // without the brackets of an IPv6 address
    uint16_t port;
};

// False for an empty text or one that is not of that form (no colon, an empty
// or over-long host, a port that is not 1..65535 in decimal, an unclosed
// bracket, an IPv6 address without brackets). *target is set only on success.
bool parseUdpTarget(const char* text, UdpTarget* target);
