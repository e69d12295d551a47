#include "net/stream_client.h"

SystemResult connectClient(const char* host, const char* port, NativeSocket* connected) {
    return connectByName(host, port, SocketKind::stream, connected);
}

void closeClient(NativeSocket socket) {
    if (socket != noSocket) closeNativeSocket(socket);
}

bool sendAll(NativeSocket socket, const void* data, size_t length) {
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        const long n = sendBytes(socket, p, length);
        if (n <= 0) return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}
