#include "net/name_lookup.h"

#include <cstring>

#include "net/datagram_server.h"
#include "net/socket_platform.h"
#include "text/number_text.h"

void failWith(SystemResult& result, TextBuilder& reason, int error) {
    result.ok = false;
    result.error = error;
    char words[256];
    describeSocketError(error, words, sizeof words);
    reason.append(": ");
    reason.append(words);
}

SystemResult connectByName(const char* host, const char* port, SocketKind kind,
                           NativeSocket* connected) {
    *connected = noSocket;
    SystemResult result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = kind == SocketKind::stream ? SOCK_STREAM : SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (const int resolved = getaddrinfo(host, port, &hints, &found); resolved != 0) {
        result.ok = false;
        result.error = resolverError(resolved);
        TextBuilder text(result.reason, sizeof result.reason);
        text.append("cannot resolve '");
        text.append(host);
        text.append("': ");
        char words[256];
        describeResolverError(resolved, words, sizeof words);
        text.append(words);
        return result;
    }
    int error = 0;
    for (const addrinfo* a = found; a != nullptr && *connected == noSocket; a = a->ai_next) {
        const NativeSocket s = openSocketFor(*a, kind);
        if (s == noSocket) {
            error = lastSocketError();
        } else if (!connectSocket(s, *a)) {
            error = lastSocketError();
            closeNativeSocket(s);
        } else {
            if (kind == SocketKind::stream) sendWithoutDelay(s);
            *connected = s;
        }
    }
    freeaddrinfo(found);
    if (*connected != noSocket) return result;
    TextBuilder text(result.reason, sizeof result.reason);
    if (kind == SocketKind::stream) {
        text.append("cannot connect to ");
        text.append(host);
        text.append(" port ");
        text.append(port);
    } else {
        // A datagram socket's connect sends nothing: it only picks the address.
        text.append("no socket for '");
        text.append(host);
        text.append("'");
    }
    failWith(result, text, error);
    return result;
}

void appendListenAddress(TextBuilder& out, const ListenAddress& address, uint16_t port) {
    const uint8_t* b = address.bytes;
    if (address.family != ListenFamily::ipv6) {
        for (int i = 0; i < 4; ++i) {
            if (i > 0) out.append(".");
            out.appendInteger(address.family == ListenFamily::ipv4 ? b[i] : 0);
        }
    } else {
        // The longest run of zero groups (two or more) is written "::".
        int group[8], bestStart = -1, bestLength = 1;
        for (int i = 0; i < 8; ++i)
            group[i] = b[2 * i] << 8 | b[2 * i + 1];
        for (int i = 0; i < 8;) {
            int j = i;
            while (j < 8 && group[j] == 0)
                ++j;
            if (j - i > bestLength) bestStart = i, bestLength = j - i;
            i = j > i ? j : i + 1;
        }
        out.append("[");
        for (int i = 0; i < 8; ++i) {
            if (i == bestStart) {
                out.append("::");
                i += bestLength - 1;
                continue;
            }
            if (i > 0 && i != bestStart + bestLength) out.append(":");
            char hex[5];
            int n = 0;
            for (int shift = 12; shift >= 0; shift -= 4)
                if (const int digit = group[i] >> shift & 0xF; digit != 0 || n > 0 || shift == 0)
                    hex[n++] = "0123456789abcdef"[digit];
            hex[n] = '\0';
            out.append(hex);
        }
        out.append("]");
    }
    out.append(":");
    out.appendInteger(port);
}

sockaddr_in ipv4SocketAddress(uint32_t address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    a.sin_port = htons(port);
    return a;
}

bool parseIpv4Address(const char* text, uint32_t* address) {
    uint8_t bytes[4];
    if (text == nullptr || !parseIpv4Text(text, bytes)) return false;
    *address =
        uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
    return true;
}

int fillListenAddress(const ListenAddress& address, uint16_t port, sockaddr_storage* out) {
    *out = sockaddr_storage{};
    if (address.family == ListenFamily::ipv6) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(out);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(port);
        std::memcpy(&a6->sin6_addr, address.bytes, sizeof a6->sin6_addr);
        return static_cast<int>(sizeof *a6);
    }
    auto* a4 = reinterpret_cast<sockaddr_in*>(out);
    a4->sin_family = AF_INET;
    a4->sin_port = htons(port);
    if (address.family == ListenFamily::ipv4)
        std::memcpy(&a4->sin_addr, address.bytes, sizeof a4->sin_addr);
    else
        a4->sin_addr.s_addr = htonl(INADDR_ANY);
    return static_cast<int>(sizeof *a4);
}
