#include "net/datagram_socket.h"

#include "net/name_lookup.h"
#include "text/number_text.h"

SystemResult openUdpSocket(const UdpTarget& target, UdpSocket* opened) {
    char port[8];
    formatInteger(port, sizeof port, target.port);
    return connectByName(target.host, port, SocketKind::datagram, opened);
}

UdpSocket openUdpSocket(const UdpTarget& target, char* reason, size_t reasonSize) {
    UdpSocket opened = noUdpSocket;
    const SystemResult result = openUdpSocket(target, &opened);
    copyText(reason, reasonSize, result.reason);
    return opened;
}

void describeUdpError(int code, char* out, size_t size) {
    describeSocketError(code, out, size);
}

void closeUdpSocket(UdpSocket socket) {
    closeNativeSocket(socket);
}
