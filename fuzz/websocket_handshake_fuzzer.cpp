#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/websocket.h"

// Any byte stream a client could send as its opening handshake: read byte by
// byte into the head as the server does, then answered (or not).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RequestHead head;
    clearRequestHead(head);
    HeadStatus status = HeadStatus::incomplete;
    size_t used = 0;
    while (used < size && status == HeadStatus::incomplete)
        status = appendHeadByte(head, data[used++]);
    if (head.length >= requestHeadSize || head.text[head.length] != '\0') std::abort();

    // The key search on the raw bytes, which carry no terminator of their own.
    char key[webSocketKeySize];
    if (findWebSocketKey(reinterpret_cast<const char*>(data), size, key, sizeof key) &&
        std::strlen(key) >= sizeof key)
        std::abort();

    if (status != HeadStatus::complete) return 0;
    char reply[handshakeReplySize];
    int length = formatHandshakeReply(head, reply, sizeof reply);
    if (length < 0) return 0;
    static const char start[] = "HTTP/1.1 101 OK\r\n";
    if (static_cast<size_t>(length) >= sizeof reply || std::strlen(reply) != size_t(length) ||
        std::memcmp(reply, start, sizeof start - 1) != 0)
        std::abort();
    // The accept value is always 28 characters: the reply head has one length.
    if (length != 112) std::abort();
    return 0;
}
