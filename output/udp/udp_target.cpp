#include "output/udp/udp_target.h"

#include <cstring>

namespace {

bool parsePort(const char* text, uint16_t* port) {
    if (*text == '\0') return false;
    long value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + (*c - '0');
        if (value > 65535) return false;
    }
    if (value == 0) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

} // namespace

bool parseUdpTarget(const char* text, UdpTarget* target) {
    const char* hostStart = text;
    const char* hostEnd;
    const char* portText;
    if (text[0] == '[') {
        hostStart = text + 1;
        hostEnd = std::strchr(hostStart, ']');
        if (hostEnd == nullptr || hostEnd[1] != ':') return false;
        portText = hostEnd + 2;
    } else {
        hostEnd = std::strrchr(text, ':');
        if (hostEnd == nullptr) return false;
        // More than one colon is an IPv6 address, which needs its brackets.
        if (std::memchr(text, ':', static_cast<size_t>(hostEnd - text)) != nullptr) return false;
        portText = hostEnd + 1;
    }
    const size_t hostLength = static_cast<size_t>(hostEnd - hostStart);
    if (hostLength == 0 || hostLength >= udpHostSize) return false;
    uint16_t port;
    if (!parsePort(portText, &port)) return false;
    std::memcpy(target->host, hostStart, hostLength);
    target->host[hostLength] = '\0';
    target->port = port;
    return true;
}
