#pragma once
// The address the LAN server listens on, as the lanAddress setting writes it:
// empty for every IPv4 address (as the server always listened), an IPv4 or
// IPv6 address of this machine, or localhost. Pure text handling; the socket
// layer binds what this yields.

#include <cstddef>
#include <cstdint>

#include "text/number_text.h"

// The longest IPv6 text ("ffff:...:255.255.255.255", 45 characters) and its NUL.
constexpr size_t listenAddressSize = 46;

enum class ListenFamily : uint8_t { any, ipv4, ipv6 };

struct ListenAddress {
    ListenFamily family = ListenFamily::any;
    uint8_t bytes[16] = {}; // network order: 4 bytes for IPv4, 16 for IPv6
};

// Reads "a.b.c.d" (each part 0..255, no leading zero: some readers take "010"
// as octal) into out, in network order; false for anything else.
bool parseIpv4Text(const char* text, uint8_t out[4]);

// False with the reason ("is no IPv4 or IPv6 address ...") when text is no
// such address or one that cannot be listened on (broadcast, multicast);
// reason may be null. Host names other than localhost are not
// taken: a listener binds an address, and a name may stand for several.
bool parseListenAddress(const char* text, ListenAddress* address, TextBuilder* reason);

// Whether a client on another machine can never reach the address.
bool isLoopbackAddress(const ListenAddress& address);
// Whether the address stands for every address of the machine: empty,
// 0.0.0.0 or :: (which takes IPv4 clients too).
bool isEveryAddress(const ListenAddress& address);

// Why a well-formed address cannot be listened on, as the rest of a sentence
// that begins with the value ("is a broadcast address: ..."): a broadcast or
// multicast address names other machines, not this one. Null when it can.
const char* unlistenableAddressReason(const ListenAddress& address);

// "0.0.0.0:8096", "127.0.0.1:8096" (also for localhost) or "[::1]:8096", for
// the address text as the setting holds it (already checked).
void appendListenEndpoint(TextBuilder& out, const char* text, uint16_t port);
