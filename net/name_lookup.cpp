#include "net/name_lookup.h"

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
