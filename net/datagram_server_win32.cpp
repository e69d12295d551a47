// Winsock. The shell has started it before any worker runs.

#include <winsock2.h>
#include <ws2tcpip.h>

#include "net/datagram_server.h"
#include "net/socket_platform.h"
#include "text/number_text.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace {

SystemResult failedBind(uint32_t address, uint16_t port, int error) {
    SystemResult result;
    TextBuilder reason(result.reason, sizeof result.reason);
    reason.append("cannot bind UDP ");
    ListenAddress shown;
    shown.family = ListenFamily::ipv4;
    for (int i = 0; i < 4; ++i)
        shown.bytes[i] = static_cast<uint8_t>(address >> (24 - 8 * i));
    appendListenAddress(reason, shown, port);
    failWith(result, reason, error);
    return result;
}

} // namespace

SystemResult openDatagramServer(uint32_t address, uint16_t port, NativeSocket* opened) {
    *opened = noSocket;
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return failedBind(address, port, WSAGetLastError());
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    // Without this a send to a closed port makes the next receive fail.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    const sockaddr_in a = ipv4SocketAddress(address, port);
    if (bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        const int error = WSAGetLastError();
        closesocket(s);
        return failedBind(address, port, error);
    }
    *opened = static_cast<NativeSocket>(s);
    return SystemResult{};
}

BindFailure bindFailureOf(const SystemResult& failure) {
    switch (failure.error) {
    case WSAEADDRINUSE:
        return BindFailure::portInUse;
    case WSAEADDRNOTAVAIL:
        return BindFailure::addressNotHere;
    case WSAEACCES:
        return BindFailure::denied;
    default:
        return BindFailure::other;
    }
}

int waitReadable(NativeSocket socket, int milliseconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(socket), &readable);
    timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
    const int got = select(0, &readable, nullptr, nullptr, &wait);
    if (got == SOCKET_ERROR) return -1;
    return got > 0 ? 1 : 0;
}

long receiveDatagramFrom(NativeSocket socket, uint8_t* data, size_t capacity, DatagramPeer* from) {
    sockaddr_in a{};
    int length = sizeof a;
    const int got =
        recvfrom(static_cast<SOCKET>(socket), reinterpret_cast<char*>(data),
                 static_cast<int>(capacity), 0, reinterpret_cast<sockaddr*>(&a), &length);
    if (got == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        // Longer than the buffer: the datagram is gone, its size unknown but too big.
        if (error == WSAEMSGSIZE) return static_cast<long>(capacity) + 1;
        if (error == WSAEWOULDBLOCK || error == WSAECONNRESET || error == WSAEINTR) return 0;
        return -1;
    }
    from->address = ntohl(a.sin_addr.s_addr);
    from->port = ntohs(a.sin_port);
    return got;
}

bool sendDatagramTo(NativeSocket socket, const uint8_t* data, size_t size, const DatagramPeer& to) {
    const sockaddr_in a = ipv4SocketAddress(to.address, to.port);
    const int sent =
        sendto(static_cast<SOCKET>(socket), reinterpret_cast<const char*>(data),
               static_cast<int>(size), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    return sent == static_cast<int>(size);
}
