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
    bool upgrade = false;
    int length = formatHandshakeReply(head, reply, sizeof reply, upgrade);
    if (length < 0 || static_cast<size_t>(length) >= sizeof reply ||
        std::strlen(reply) != size_t(length))
        std::abort();
    // A 101 only with a key found in a header line; the accept value is always
    // 28 characters, so the reply head has one length. Anything else is the
    // one refusal.
    static const char upgraded[] = "HTTP/1.1 101 OK\r\n";
    static const char refused[] =
        "HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    if (upgrade != (findWebSocketKey(head.text, head.length, key, sizeof key) && key[0] != '\0' &&
                    std::strlen(key) <= 91))
        std::abort();
    if (upgrade && (length != 112 || std::memcmp(reply, upgraded, sizeof upgraded - 1) != 0))
        std::abort();
    if (!upgrade && std::strcmp(reply, refused) != 0) std::abort();
    return 0;
}
