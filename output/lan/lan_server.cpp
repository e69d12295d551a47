#include "output/lan/lan_server.h"

#include <cstdint>

#include "output/lan/reply_text.h"
#include "output/lan/socket_slot.h"
#include "output/lan/websocket.h"
#include "settings/settings.h"
#include "settings/stop_request.h"

namespace {

uint16_t listenPort() {
    return static_cast<uint16_t>(static_cast<uint32_t>(settings.lanPort.load()) & 0xFFFFu);
}

// Each call takes the client afresh, so a socket closed by another thread
// makes the next call fail instead of touching a stale handle.
bool receiveClientByte(unsigned char* byte) {
    NativeSocket socket = borrowSocket(clientSocket);
    if (socket == noSocket) return false;
    int got = receiveByte(socket, byte);
    returnSocket(clientSocket, socket);
    return got > 0;
}

bool sendToClient(const char* data, size_t length) {
    NativeSocket socket = borrowSocket(clientSocket);
    if (socket == noSocket) return false;
    long sent = sendBytes(socket, data, length);
    returnSocket(clientSocket, socket);
    return sent > 0;
}

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
    char reply[handshakeReplySize];
    int length = formatHandshakeReply(head, reply, sizeof reply);
    if (length < 0) {
        closeClientSocket();
        return;
    }
    sendToClient(reply, static_cast<size_t>(length)); // a failure shows at the first read
}

} // namespace

bool openLanServer() {
    NativeSocket created = openStreamSocket();
    if (created == noSocket) return false;
    placeSocket(listenSocket, created);
    // A stop sets the flag before it closes the sockets: either that close
    // finds this listener, or the flag is seen here, so a stop that came just
    // before this open cannot leave the worker in accept.
    if (stopRequested.load()) {
        closeSocketSlot(listenSocket);
        return false;
    }
    uint16_t port = listenPort();
    bool listening =
        onListener([port](NativeSocket listener) { return bindAnyAddress(listener, port); }) &&
        onListener([](NativeSocket listener) { return listenForOne(listener); });
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
    if (settings.webSocketEnabled.load()) answerHandshake();
    return true;
}

int readRequest() {
    if (settings.webSocketEnabled.load()) {
        unsigned char frame[requestFrameLength];
        for (unsigned char& byte : frame)
            if (!receiveClientByte(&byte)) return -1;
        return requestFrameCommand(frame);
    }
    unsigned char byte;
    return receiveClientByte(&byte) ? byte : -1;
}

ReplyOutcome sendMotionOutput(const MotionOutput& motion, const ButtonState& buttons) {
    char reply[2 + replyTextSize];
    int length = settings.webSocketEnabled.load()
                     ? formatReplyFrame(reply, sizeof reply, motion, buttons)
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
