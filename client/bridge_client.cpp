#include "client/bridge_client.h"

#include <algorithm>
#include <cstring>

namespace {

bool isInterrupted(const BridgeLink& link) {
    return link.interrupted != nullptr && *link.interrupted != 0;
}

// Receives until at least `want` bytes are held; false on close, error, an
// interruption or when the deadline passes.
bool fill(BridgeLink& link, size_t want, BridgeClock::time_point deadline) {
    if (want > sizeof link.data) return false;
    while (link.length < want) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - BridgeClock::now());
        if (left.count() < 0 || isInterrupted(link)) return false;
        int n = receiveWithin(link.socket, link.data + link.length, sizeof link.data - link.length,
                              static_cast<int>(std::min<long long>(left.count(), 200)));
        if (n == -2) continue;
        if (n <= 0) return false;
        link.length += static_cast<size_t>(n);
    }
    return true;
}

void drop(BridgeLink& link, size_t n) {
    std::memmove(link.data, link.data + n, link.length - n);
    link.length -= n;
}

// A failed wait is a missing reply when its time ran out (or a signal came),
// else the connection is gone.
BridgeReply timedOut(const BridgeLink& link, BridgeClock::time_point deadline) {
    return BridgeClock::now() >= deadline || isInterrupted(link) ? BridgeReply::missing
                                                                 : BridgeReply::closed;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A plain reply has no end mark: it is complete with its twelfth value, a
// decimal integer. It leaves the bridge in one send, so the digits that follow
// at once belong to it; anything else is the start of a later reply.
BridgeReply readPlainReply(BridgeLink& link, BridgeClock::time_point deadline, std::string* text) {
    size_t scanned = 0;
    int commas = 0;
    for (;;) {
        while (scanned < link.length && commas < 11)
            if (link.data[scanned++] == ',') ++commas;
        if (commas == 11 && scanned < link.length) {
            size_t end = scanned;
            if (link.data[end] == '-') ++end;
            for (;;) {
                while (end < link.length && isDigit(link.data[end]))
                    ++end;
                if (end < link.length || link.length == sizeof link.data) break;
                int n = receiveWithin(link.socket, link.data + link.length,
                                      sizeof link.data - link.length, 0);
                if (n <= 0) break;
                link.length += static_cast<size_t>(n);
            }
            text->assign(link.data, end);
            drop(link, end);
            return BridgeReply::received;
        }
        if (!fill(link, link.length + 1, deadline)) return timedOut(link, deadline);
    }
}

BridgeReply readFrameReply(BridgeLink& link, BridgeClock::time_point deadline, std::string* text) {
    for (;;) {
        if (!fill(link, 2, deadline)) return timedOut(link, deadline);
        const unsigned opcode = static_cast<unsigned char>(link.data[0]) & 0x0F;
        size_t head = 2;
        size_t length = static_cast<unsigned char>(link.data[1]) & 0x7F;
        if (length == 126) {
            head = 4;
            if (!fill(link, head, deadline)) return timedOut(link, deadline);
            length = static_cast<size_t>(static_cast<unsigned char>(link.data[2])) << 8 |
                     static_cast<unsigned char>(link.data[3]);
        } else if (length == 127) {
            return BridgeReply::closed; // far beyond any reply: out of step
        }
        if (head + length > sizeof link.data) return BridgeReply::closed;
        if (!fill(link, head + length, deadline)) return timedOut(link, deadline);
        if (opcode == 0x8) return BridgeReply::closed;
        const bool message = opcode == 0x1 || opcode == 0x2;
        if (message) text->assign(link.data + head, length);
        drop(link, head + length);
        if (message) return BridgeReply::received;
    }
}

} // namespace

bool openBridgeWebSocket(BridgeLink& link, const char* host, const char* port,
                         BridgeClock::time_point deadline, std::string* reply) {
    reply->clear();
    // Host names ignore letter case; in lower case the head holds no "D" that
    // a plain bridge would take for a request.
    std::string lowerHost = host;
    for (char& c : lowerHost)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    std::string head = "GET / HTTP/1.1\r\nHost: " + lowerHost + ":" + port +
                       "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                       "Sec-WebSocket-Version: 13\r\n\r\n";
    if (!sendAll(link.socket, head.data(), head.size())) return false;
    for (;;) {
        for (size_t i = 0; i + 3 < link.length; ++i)
            if (std::memcmp(link.data + i, "\r\n\r\n", 4) == 0) {
                reply->assign(link.data, i + 4);
                drop(link, i + 4);
                // The accept value that belongs to the sample key.
                return reply->rfind("HTTP/1.1 101", 0) == 0 &&
                       reply->find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n") !=
                           std::string::npos;
            }
        if (!fill(link, link.length + 1, deadline)) {
            reply->assign(link.data, link.length);
            return false;
        }
    }
}

bool sendBridgeRequest(BridgeLink& link) {
    if (!link.webSocket) return sendAll(link.socket, "D", 1);
    // Masked as a client must; the mask changes nothing here.
    const unsigned char mask[4] = {0x37, 0xFA, 0x21, 0x3D};
    const unsigned char frame[7] = {
        0x81, 0x81, mask[0], mask[1], mask[2], mask[3], static_cast<unsigned char>('D' ^ mask[0])};
    return sendAll(link.socket, frame, sizeof frame);
}

BridgeReply readBridgeReply(BridgeLink& link, BridgeClock::time_point deadline, std::string* text) {
    return link.webSocket ? readFrameReply(link, deadline, text)
                          : readPlainReply(link, deadline, text);
}

void closeBridgeLink(BridgeLink& link) {
    closeClient(link.socket);
    link.socket = noSocket;
    link.length = 0;
}
