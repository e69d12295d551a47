#include "output/lan/lan_server.h"

#include <cstdint>

#include "output/lan/socket_slot.h"
#include "protocol/origin_check.h"
#include "protocol/reply_text.h"
#include "protocol/websocket.h"
#include "settings/settings.h"
#include "settings/stop_request.h"

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

// Runs one step on the listener; false when it failed or the listener is gone.
template <typename Step> bool onListener(Step step) {
    NativeSocket listener = borrowSocket(listenSocket);
    if (listener == noSocket) return false;
    bool ok = step(listener);
    returnSocket(listenSocket, listener);
    return ok;
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
            closeClientSocket();
            return;
        }
    }
    char origins[webSocketOriginsSize];
    getWebSocketOrigins(origins);
    if (!originAllowed(head.text, head.length, origins)) {
        sendToClient(forbiddenOriginReply, sizeof forbiddenOriginReply - 1);
        closeClientSocket();
        return;
    }
    char reply[handshakeReplySize];
    bool upgrade = false;
    int length = formatHandshakeReply(head, reply, sizeof reply, upgrade);
    if (length > 0)
        sendToClient(reply, static_cast<size_t>(length)); // a failure shows at the first read
    // A refused head ends the connection, so the first read fails as after a
    // client that went away.
    if (!upgrade) closeClientSocket();
}

} // namespace

bool openLanServer() {
    // A port of 0 would let the system pick one that no client can know.
    uint16_t port = listenPort();
    if (port == 0) return false;
    char addressText[lanAddressSize];
    getLanAddress(addressText);
    ListenAddress address;
    if (!parseListenAddress(addressText, &address, nullptr)) return false;
    NativeSocket created = openBoundSocket(address, port);
    if (created == noSocket) return false;
    placeSocket(listenSocket, created);
    // A stop sets the flag before it closes the sockets: either that close
    // finds this listener, or the flag is seen here, so a stop that came just
    // before this open cannot leave the worker in accept.
    if (stopRequested.load()) {
        closeSocketSlot(listenSocket);
        return false;
    }
    bool listening = onListener([](NativeSocket listener) { return listenForOne(listener); });
    bool accepted = listening && onListener([](NativeSocket listener) {
                        NativeSocket client = acceptClient(listener);
                        return client != noSocket &&
                               placeAcceptedSocket(listenSocket, listener, clientSocket, client);
                    });
    if (!accepted) {
        // A port in use is the common case and the worker tries again at once:
        // a failed attempt must not leave its socket open.
        closeSocketSlot(listenSocket);
        return false;
    }
    connection.webSocket = settings.webSocketEnabled.load() != 0;
    clearRequestStream(connection.stream);
    if (connection.webSocket) answerHandshake();
    return true;
}

int readRequest() {
    if (connection.webSocket) return readRequestMessage(connection.stream, clientLink);
    unsigned char byte;
    return receiveClientByte(&byte) ? byte : -1;
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
