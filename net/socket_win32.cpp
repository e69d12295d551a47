// Winsock. closesocket wakes a call blocked on the socket, so interrupting a
// socket closes it.

#include "net/datagram_socket.h"
#include "net/socket_platform.h"

#include <windows.h>

#include <cstring>

namespace {
SOCKET asSocket(NativeSocket socket) {
    return static_cast<SOCKET>(socket);
}
} // namespace

bool startSocketLayer() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void stopSocketLayer() {
    WSACleanup();
}

int lastSocketError() {
    return WSAGetLastError();
}

int resolverError(int result) {
    return result;
}

void describeResolverError(int result, char* out, size_t size) {
    describeSocketError(result, out, size);
}

void describeSocketError(int error, char* out, size_t size) {
    char message[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(error), 0, message, sizeof message, nullptr);
    // Without the line end and full stop FormatMessage puts after the text.
    while (n > 0 && (message[n - 1] == '\r' || message[n - 1] == '\n' || message[n - 1] == ' ' ||
                     message[n - 1] == '.'))
        message[--n] = '\0';
    TextBuilder text(out, size);
    // Windows' own words for the errors a listener and a client meet most,
    // where the system has none (wine's message table lacks them).
    static const struct {
        int error;
        const char* words;
    } known[] = {
        {WSAEADDRINUSE, "Only one usage of each socket address (protocol/network address/port) "
                        "is normally permitted"},
        {WSAEADDRNOTAVAIL, "The requested address is not valid in its context"},
        {WSAECONNREFUSED,
         "No connection could be made because the target machine actively refused it"},
        {WSAECONNRESET, "An existing connection was forcibly closed by the remote host"},
        {WSAENETUNREACH, "A socket operation was attempted to an unreachable network"},
        {WSAEHOSTUNREACH, "A socket operation was attempted to an unreachable host"},
    };
    if (n == 0)
        for (const auto& k : known)
            if (k.error == error) {
                text.append(k.words);
                return;
            }
    if (n > 0) {
        text.append(message);
    } else {
        text.append("Winsock error ");
        text.appendInteger(error);
    }
}

bool connectMayWorkLater(const SystemResult& failure) {
    const int e = failure.error;
    return e == WSAECONNREFUSED || e == WSAETIMEDOUT || e == WSAEHOSTUNREACH || e == WSAENETUNREACH;
}

NativeSocket openSocketFor(const addrinfo& address, SocketKind kind) {
    const SOCKET s = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET) return noSocket;
    u_long nonBlocking = 1;
    if (kind == SocketKind::datagram && ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        const int error = WSAGetLastError();
        closesocket(s);
        WSASetLastError(error);
        return noSocket;
    }
    return static_cast<NativeSocket>(s);
}

bool connectSocket(NativeSocket socket, const addrinfo& address) {
    return connect(asSocket(socket), address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0;
}

void sendWithoutDelay(NativeSocket socket) {
    BOOL one = TRUE;
    setsockopt(asSocket(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
               sizeof one);
}

SystemResult openListener(uint16_t port, NativeSocket* listener, const ListenAddress& address) {
    *listener = noSocket;
    SystemResult result;
    TextBuilder reason(result.reason, sizeof result.reason);
    const bool v6 = address.family == ListenFamily::ipv6;
    const SOCKET s = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        reason.append("cannot create a TCP socket");
        failWith(result, reason, WSAGetLastError());
        return result;
    }
    if (v6) {
        // "::" then serves IPv4 clients too; Windows makes IPv6 sockets v6-only.
        DWORD off = 0;
        setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off), sizeof off);
    }
    sockaddr_storage storage;
    const int size = static_cast<int>(fillListenAddress(address, port, &storage));
    const bool bound = bind(s, reinterpret_cast<const sockaddr*>(&storage), size) == 0;
    if (!bound || listen(s, 1) != 0) {
        const int error = WSAGetLastError();
        closesocket(s);
        reason.append(bound ? "cannot listen on " : "cannot bind ");
        appendListenAddress(reason, address, port);
        failWith(result, reason, error);
        return result;
    }
    *listener = static_cast<NativeSocket>(s);
    return result;
}

SystemResult acceptClient(NativeSocket listener, NativeSocket* client) {
    alignas(sockaddr_storage) char peer[128];
    int peerSize = sizeof peer;
    const SOCKET s = accept(asSocket(listener), reinterpret_cast<sockaddr*>(peer), &peerSize);
    if (s != INVALID_SOCKET) {
        *client = static_cast<NativeSocket>(s);
        return SystemResult{};
    }
    const int error = WSAGetLastError();
    *client = noSocket;
    SystemResult result;
    TextBuilder reason(result.reason, sizeof result.reason);
    reason.append("cannot accept a client on port ");
    reason.appendInteger(boundPort(listener));
    failWith(result, reason, error);
    return result;
}

long receiveBytes(NativeSocket socket, unsigned char* out, size_t count) {
    int got = recv(asSocket(socket), reinterpret_cast<char*>(out), static_cast<int>(count), 0);
    return got >= 0 ? got : -1;
}

long receiveWithin(NativeSocket socket, void* out, size_t count, int timeoutMs) {
    WSAPOLLFD p{};
    p.fd = asSocket(socket);
    p.events = POLLRDNORM;
    int ready = WSAPoll(&p, 1, timeoutMs);
    if (ready < 0) return -1;
    if (ready == 0) return -2;
    int n = recv(asSocket(socket), static_cast<char*>(out), static_cast<int>(count), 0);
    return n < 0 ? -1 : n;
}

bool waitToReceive(NativeSocket socket, int timeoutMs) {
    WSAPOLLFD p{};
    p.fd = asSocket(socket);
    p.events = POLLRDNORM;
    return WSAPoll(&p, 1, timeoutMs) != 0;
}

long sendBytes(NativeSocket socket, const void* data, size_t length) {
    return send(asSocket(socket), static_cast<const char*>(data), static_cast<int>(length), 0);
}

void shutdownSending(NativeSocket socket) {
    shutdown(asSocket(socket), SD_SEND);
}

bool interruptSocket(NativeSocket socket) {
    closesocket(asSocket(socket));
    return true;
}

void closeNativeSocket(NativeSocket socket) {
    closesocket(asSocket(socket));
}

uint16_t boundPort(NativeSocket socket) {
    sockaddr_in address{};
    int size = sizeof address;
    if (getsockname(asSocket(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    return ntohs(address.sin_port);
}

int sendUdpDatagram(UdpSocket socket, const unsigned char* data, size_t length) {
    const int sent =
        send(asSocket(socket), reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
    if (sent == static_cast<int>(length)) return 0;
    return sent >= 0 ? WSAEMSGSIZE : WSAGetLastError();
}

bool refusedEarlierDatagram(int code) {
    // A connected UDP socket reports an ICMP port unreachable about an earlier
    // datagram on a later call.
    return code == WSAECONNRESET;
}
