#pragma once
// The WebSocket dialect of the LAN server as pure functions over buffers: the
// request head, the key and accept value, the reply head, the 7-byte request
// frames and the text reply frames. lan_server.cpp moves the bytes.

#include <cstddef>

#include "device/device_line.h"
#include "motion/orientation.h"

constexpr size_t requestHeadSize = 1024; // at most 1023 bytes of head
constexpr size_t webSocketKeySize = 256;
constexpr size_t acceptInputSize = 128; // key and GUID: a key of at most 91 characters
constexpr size_t acceptValueSize = 29;  // 28 characters of Base64 and the NUL
constexpr size_t handshakeReplySize = 1024;
constexpr int requestFrameLength = 7;
constexpr int maxTextFramePayload = 125; // the longest single-byte payload length

struct RequestHead {
    char text[requestHeadSize]; // always NUL-terminated
    size_t length = 0;
    int lineEndRun = 0; // consecutive CR or LF bytes at the end
};

enum class HeadStatus { incomplete, complete, tooLong };

void clearRequestHead(RequestHead& head);

// Appends one received byte. The head is complete after four consecutive CR or
// LF bytes; tooLong when it filled its 1023 bytes without that.
HeadStatus appendHeadByte(RequestHead& head, unsigned char byte);

// The value of the first "Sec-WebSocket-Key" (exact letter case, anywhere in
// the head) after its ":" and any spaces, up to the next CR. The head ends at
// its first NUL or at length, whichever comes first; no search goes beyond it.
// No header, or no ":" after it, gives an empty key; a value that runs to the
// end of the head without a CR is taken as far as the head goes.
// False when the value does not fit keySize-1 characters.
bool findWebSocketKey(const char* head, size_t length, char* key, size_t keySize);

// Base64 of the SHA-1 of key + GUID into accept (acceptValueSize bytes).
// False when the key is longer than 91 characters or the digest failed.
bool computeAcceptKey(const char* key, char* accept);

// The "101" reply head for a complete request head, or -1 when none may be
// sent (a key that does not fit): the handshake then ends without reply.
int formatHandshakeReply(const RequestHead& head, char* out, size_t size);

// The command byte of a 7-byte request frame: the first payload byte unmasked
// with the first masking-key byte. Nothing else of the frame is examined.
int requestFrameCommand(const unsigned char* frame);

// One unmasked text frame holding the JSON reply: its length, or -1 when the
// JSON text does not fit the buffer or a single-byte payload length (then no
// frame may be sent at all).
int formatReplyFrame(char* out, size_t size, const MotionOutput& motion,
                     const ButtonState& buttons);
