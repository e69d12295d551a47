#include "text/listen_address.h"

#include <cstring>

namespace {

constexpr char loopbackName[] = "localhost";

bool isDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (isDecimalDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Groups of one to four hex digits, at most one "::" for a run of zero
// groups, and an IPv4 address in place of the last two groups.
bool parseIpv6(const char* text, uint8_t out[16]) {
    uint16_t groups[8] = {};
    int count = 0;
    int gap = -1; // the group index where "::" stands
    const char* p = text;
    if (p[0] == ':') {
        if (p[1] != ':') return false;
        gap = 0;
        p += 2;
    }
    while (*p != '\0') {
        if (count == 8) return false;
        const char* end = p;
        while (hexValue(*end) >= 0)
            ++end;
        if (*end == '.') {
            uint8_t v4[4];
            if (count > 6 || !parseIpv4Text(p, v4)) return false;
            groups[count++] = static_cast<uint16_t>(v4[0] << 8 | v4[1]);
            groups[count++] = static_cast<uint16_t>(v4[2] << 8 | v4[3]);
            break;
        }
        if (end == p || end - p > 4) return false;
        unsigned value = 0;
        for (; p < end; ++p)
            value = value * 16 + static_cast<unsigned>(hexValue(*p));
        groups[count++] = static_cast<uint16_t>(value);
        if (*p == '\0') break;
        if (*p++ != ':') return false;
        if (*p == ':') {
            if (gap >= 0) return false;
            gap = count;
            ++p;
        } else if (*p == '\0') {
            return false; // a lone ":" at the end
        }
    }
    if (gap < 0 ? count != 8 : count > 7) return false;
    const int zeros = 8 - count;
    uint16_t full[8] = {};
    for (int i = 0, o = 0; i < count; ++i, ++o) {
        if (i == gap) o += zeros;
        full[o] = groups[i];
    }
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = static_cast<uint8_t>(full[i] >> 8);
        out[2 * i + 1] = static_cast<uint8_t>(full[i] & 0xFF);
    }
    return true;
}

void say(TextBuilder* reason, const char* text) {
    if (reason != nullptr) reason->append(text);
}

} // namespace

bool parseIpv4Text(const char* text, uint8_t out[4]) {
    const char* p = text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *p++ != '.') return false;
        if (!isDecimalDigit(*p)) return false;
        int value = 0, digits = 0;
        for (; isDecimalDigit(*p); ++p, ++digits)
            value = value * 10 + (*p - '0');
        if (digits > 3 || value > 255 || (digits > 1 && p[-digits] == '0')) return false;
        out[part] = static_cast<uint8_t>(value);
    }
    return *p == '\0';
}

bool parseListenAddress(const char* text, ListenAddress* address, TextBuilder* reason) {
    ListenAddress parsed;
    if (*text == '\0') {
        *address = parsed;
        return true;
    }
    if (std::strcmp(text, loopbackName) == 0) {
        parsed.family = ListenFamily::ipv4;
        const uint8_t loopback[4] = {127, 0, 0, 1};
        std::memcpy(parsed.bytes, loopback, sizeof loopback);
        *address = parsed;
        return true;
    }
    if (std::strlen(text) >= listenAddressSize) {
        say(reason, "is longer than any IPv4 or IPv6 address");
        return false;
    }
    if (text[0] == '[') {
        say(reason, "is in brackets: write an IPv6 address without them here, for example ::1");
        return false;
    }
    if (std::strchr(text, '%') != nullptr) {
        say(reason, "names a zone (%): a link-local address cannot be set; use another address "
                    "of this machine");
        return false;
    }
    if (std::strchr(text, ':') != nullptr) {
        parsed.family = ListenFamily::ipv6;
        if (!parseIpv6(text, parsed.bytes)) {
            say(reason, "is no IPv6 address (for example ::1 or fd00::5)");
            return false;
        }
    } else {
        parsed.family = ListenFamily::ipv4;
        if (!parseIpv4Text(text, parsed.bytes)) {
            say(reason, "is no IPv4 or IPv6 address nor localhost (for example 127.0.0.1, "
                        "192.168.1.20 or ::1; host names are not taken)");
            return false;
        }
    }
    if (const char* why = unlistenableAddressReason(parsed); why != nullptr) {
        say(reason, why);
        return false;
    }
    *address = parsed;
    return true;
}

bool isEveryAddress(const ListenAddress& address) {
    if (address.family == ListenFamily::any) return true;
    const int size = address.family == ListenFamily::ipv4 ? 4 : 16;
    for (int i = 0; i < size; ++i)
        if (address.bytes[i] != 0) return false;
    return true;
}

const char* unlistenableAddressReason(const ListenAddress& address) {
    const uint8_t* v4 = nullptr;
    if (address.family == ListenFamily::ipv4) {
        v4 = address.bytes;
    } else if (address.family == ListenFamily::ipv6) {
        if (address.bytes[0] == 0xFF)
            return "is a multicast address: it names a group of receivers, not this machine; "
                   "give an address of this machine (::1 for this machine only, :: for every "
                   "address)";
        static const uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        if (std::memcmp(address.bytes, mapped, sizeof mapped) == 0) v4 = address.bytes + 12;
    }
    if (v4 == nullptr) return nullptr;
    if (v4[0] == 255 && v4[1] == 255 && v4[2] == 255 && v4[3] == 255)
        return "is the broadcast address: it names every machine of the network, not this "
               "one; give an address of this machine (127.0.0.1 for this machine only, 0.0.0.0 "
               "for every address)";
    if (v4[0] >= 224 && v4[0] <= 239)
        return "is a multicast address: it names a group of receivers, not this machine; give "
               "an address of this machine (127.0.0.1 for this machine only, 0.0.0.0 for every "
               "address)";
    return nullptr;
}

bool isLoopbackAddress(const ListenAddress& address) {
    if (address.family == ListenFamily::ipv4) return address.bytes[0] == 127;
    if (address.family != ListenFamily::ipv6) return false;
    for (int i = 0; i < 15; ++i)
        if (address.bytes[i] != 0) return false;
    return address.bytes[15] == 1;
}

void appendListenEndpoint(TextBuilder& out, const char* text, uint16_t port) {
    const bool v6 = std::strchr(text, ':') != nullptr;
    out.append(v6 ? "[" : "");
    out.append(*text == '\0'                          ? "0.0.0.0"
               : std::strcmp(text, loopbackName) == 0 ? "127.0.0.1"
                                                      : text);
    out.append(v6 ? "]:" : ":");
    out.appendInteger(port);
}
