// Winsock. A connected UDP socket reports an ICMP error about an earlier
// datagram on a later call (WSAECONNRESET); it counts as a failed send.

#include <winsock2.h>
#include <ws2tcpip.h>

#include "output/udp/udp_socket.h"
#include "text/number_text.h"

namespace {

void appendErrorText(TextBuilder& text, int code) {
    char message[160];
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, message, sizeof message, nullptr);
    if (length == 0) {
        text.append("Winsock error ");
        text.appendInteger(code);
        return;
    }
    // Without the line end FormatMessage puts after the text.
    DWORD end = length;
    while (end > 0 && (message[end - 1] == '\r' || message[end - 1] == '\n' ||
                       message[end - 1] == ' ' || message[end - 1] == '.'))
        --end;
    message[end] = '\0';
    text.append(message);
}

} // namespace

UdpSocket openUdpSocket(const UdpTarget& target, char* reason, size_t reasonSize) {
    char port[8];
    formatInteger(port, sizeof port, target.port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(target.host, port, &hints, &found);
    if (resolved != 0) {
        TextBuilder text(reason, reasonSize);
        text.append("cannot resolve '");
        text.append(target.host);
        text.append("': ");
        appendErrorText(text, resolved);
        return noUdpSocket;
    }
    int lastError = 0;
    UdpSocket opened = noUdpSocket;
    for (addrinfo* a = found; a != nullptr && opened == noUdpSocket; a = a->ai_next) {
        const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            lastError = WSAGetLastError();
            continue;
        }
        u_long nonBlocking = 1;
        if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
            connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
            lastError = WSAGetLastError();
            closesocket(s);
            continue;
        }
        opened = static_cast<UdpSocket>(s);
    }
    freeaddrinfo(found);
    if (opened == noUdpSocket) {
        TextBuilder text(reason, reasonSize);
        text.append("no socket for '");
        text.append(target.host);
        text.append("': ");
        appendErrorText(text, lastError);
    }
    return opened;
}

int sendUdpDatagram(UdpSocket socket, const unsigned char* data, size_t length) {
    const int sent = send(static_cast<SOCKET>(socket), reinterpret_cast<const char*>(data),
                          static_cast<int>(length), 0);
    if (sent == static_cast<int>(length)) return 0;
    return sent >= 0 ? WSAEMSGSIZE : WSAGetLastError();
}

void describeUdpError(int code, char* out, size_t size) {
    TextBuilder text(out, size);
    appendErrorText(text, code);
}

void closeUdpSocket(UdpSocket socket) {
    closesocket(static_cast<SOCKET>(socket));
}
