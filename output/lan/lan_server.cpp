#include "output/lan/lan_server.h"

#include <chrono>
#include <cstdint>

#include "net/socket_slot.h"
#include "protocol/origin_check.h"
#include "protocol/reply_text.h"
#include "protocol/websocket.h"
#include "settings/settings.h"
#include "settings/stop_request.h"
#include "text/number_text.h"

namespace {

// The accepted client's dialect, taken once at accept so that the handshake,
// every request and every reply of a connection agree even when the settings
// change meanwhile; and the message under way. Worker thread only.
struct Connection {
    bool webSocket = false;
    RequestStream stream;
};
Connection connection;

uint16_t listenPort() {
    return static_cast<uint16_t>(static_cast<uint32_t>(settings.lanPort.load()) & 0xFFFFu);
}

bool sendToClient(const char* data, size_t length) {
    NativeSocket socket = borrowSocket(clientSocket);
    if (socket == noSocket) return false;
    long sent = sendBytes(socket, data, length);
    returnSocket(clientSocket, socket);
    return sent > 0;
}

// Exactly count bytes, which the frame reader never asks beyond the frame.
// Each call takes the client afresh, so a socket closed by another thread
// makes the next call fail instead of touching a stale handle.
bool receiveFromClient(void*, unsigned char* out, size_t count) {
    while (count > 0) {
        NativeSocket socket = borrowSocket(clientSocket);
        if (socket == noSocket) return false;
        long got = receiveBytes(socket, out, count);
        returnSocket(clientSocket, socket);
        if (got <= 0) return false;
        out += got;
        count -= static_cast<size_t>(got);
    }
    return true;
}

// The plain dialect and the handshake read one byte at a time, so that no
// byte that belongs to what follows is taken.
bool receiveClientByte(unsigned char* byte) {
    return receiveFromClient(nullptr, byte, 1);
}

bool sendFrameToClient(void*, const unsigned char* data, size_t length) {
    return sendToClient(reinterpret_cast<const char*>(data), length);
}

const FrameLink clientLink{nullptr, receiveFromClient, sendFrameToClient};

// A client refused at its head gets the reply, then an orderly end: the
// server says it sends no more and reads what the client still sends, for a
// short while, before it closes. Closing with unread bytes would reset the
// connection, and a reset may destroy the reply before the client reads it.
void refuseClient(const char* reply, int length) {
    constexpr auto lingerFor = std::chrono::milliseconds(1000);
    constexpr size_t lingerBytes = 65536;
    if (length > 0) sendToClient(reply, static_cast<size_t>(length));
    NativeSocket socket = borrowSocket(clientSocket);
    if (socket != noSocket) {
        shutdownSending(socket);
        const auto until = std::chrono::steady_clock::now() + lingerFor;
        for (size_t drained = 0; drained < lingerBytes;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            unsigned char dropped[1024];
            const long got =
                receiveWithin(socket, dropped, sizeof dropped, static_cast<int>(left.count()));
            if (got == -2) continue; // nothing yet: the time left decides
            if (got <= 0) break;     // the client closed, or the socket was closed
            drained += static_cast<size_t>(got);
        }
        returnSocket(clientSocket, socket);
    }
    // The first request read then fails as after a client that went away.
    closeClientSocket();
}

void answerHandshake() {
    RequestHead head;
    clearRequestHead(head);
    for (;;) {
        unsigned char byte;
        if (!receiveClientByte(&byte)) return; // client went away: no reply
        HeadStatus status = appendHeadByte(head, byte);
        if (status == HeadStatus::complete) break;
        if (status == HeadStatus::tooLong) {
            char reply[handshakeReplySize];
            refuseClient(reply, formatHeadTooLongReply(reply, sizeof reply));
            return;
        }
    }
    char origins[webSocketOriginsSize];
    getWebSocketOrigins(origins);
    if (!originAllowed(head.text, head.length, origins)) {
        refuseClient(forbiddenOriginReply, static_cast<int>(sizeof forbiddenOriginReply - 1));
        return;
    }
    char reply[handshakeReplySize];
    bool upgrade = false;
    int length = formatHandshakeReply(head, reply, sizeof reply, upgrade);
    if (!upgrade) {
        refuseClient(reply, length);
        return;
    }
    if (length > 0)
        sendToClient(reply, static_cast<size_t>(length)); // a failure shows at the first read
}

} // namespace

SystemResult openLanServer() {
    SystemResult result;
    TextBuilder reason(result.reason, sizeof result.reason);
    // A port of 0 would let the system pick one that no client can know.
    uint16_t port = listenPort();
    if (port == 0) {
        result.ok = false;
        reason.append("lanPort ");
        reason.appendInteger(settings.lanPort.load());
        reason.append(" is no port to listen on (its low 16 bits are 0)");
        return result;
    }
    char addressText[lanAddressSize];
    getLanAddress(addressText);
    ListenAddress address;
    char why[160];
    TextBuilder whyText(why, sizeof why);
    if (!parseListenAddress(addressText, &address, &whyText)) {
        result.ok = false;
        reason.append("lanAddress '");
        reason.append(addressText);
        reason.append("' ");
        reason.append(why);
        return result;
    }
    NativeSocket created = noSocket;
    if (SystemResult opened = openListener(port, &created, address); !opened) return opened;
    placeSocket(listenSocket, created);
    // A stop sets the flag before it closes the sockets: either that close
    // finds this listener, or the flag is seen here, so a stop that came just
    // before this open cannot leave the worker in accept.
    NativeSocket listener = stopRequested.load() ? noSocket : borrowSocket(listenSocket);
    if (listener == noSocket) {
        closeSocketSlot(listenSocket);
        result.ok = false;
        reason.append("a stop came before a client");
        return result;
    }
    NativeSocket client = noSocket;
    result = acceptClient(listener, &client);
    if (result && !placeAcceptedSocket(listenSocket, listener, clientSocket, client)) {
        result.ok = false;
        TextBuilder stopped(result.reason, sizeof result.reason);
        stopped.append("a stop came while a client connected");
    }
    returnSocket(listenSocket, listener);
    if (!result) {
        // A port in use is the common case and the worker tries again: a
        // failed attempt must not leave its socket open.
        closeSocketSlot(listenSocket);
        return result;
    }
    connection.webSocket = settings.webSocketEnabled.load() != 0;
    clearRequestStream(connection.stream);
    if (connection.webSocket) answerHandshake();
    return result;
}

int readRequest() {
    if (connection.webSocket) return readRequestMessage(connection.stream, clientLink);
    unsigned char byte;
    return receiveClientByte(&byte) ? byte : -1;
}

bool requestWithin(int timeoutMs) {
    NativeSocket socket = borrowSocket(clientSocket);
    if (socket == noSocket) return true;
    const bool ready = waitToReceive(socket, timeoutMs);
    returnSocket(clientSocket, socket);
    return ready;
}

ReplyOutcome sendMotionOutput(const MotionOutput& motion, const ButtonState& buttons) {
    char reply[2 + replyTextSize];
    int length = connection.webSocket ? formatReplyFrame(reply, sizeof reply, motion, buttons)
                                      : formatPlainReply(reply, replyTextSize, motion, buttons);
    if (length < 0) return ReplyOutcome::skipped;
    return sendToClient(reply, static_cast<size_t>(length)) ? ReplyOutcome::sent
                                                            : ReplyOutcome::failed;
}

void closeClientSocket() {
    closeSocketSlot(clientSocket);
}

void closeListenSocket() {
    closeSocketSlot(listenSocket);
    closeSocketSlot(clientSocket);
}
