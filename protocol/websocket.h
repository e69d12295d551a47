#pragma once
// The WebSocket dialect of the LAN server as pure functions over buffers: the
// request head, the key and accept value, the reply head, the client's frames
// and the text reply frames. lan_server.cpp moves the bytes.

#include <cstddef>
#include <cstdint>

#include "device/device_line.h"
#include "motion/orientation.h"

// Browsers send the key after their cookies, so a head can be long; 8 KiB is
// what common servers accept.
constexpr size_t maxRequestHeadLength = 8192;
constexpr size_t requestHeadSize = maxRequestHeadLength + 1;
constexpr size_t webSocketKeySize = 256;
constexpr size_t acceptInputSize = 128; // key and GUID: a key of at most 91 characters
constexpr size_t acceptValueSize = 29;  // 28 characters of Base64 and the NUL
constexpr size_t handshakeReplySize = 1024;
constexpr int maxTextFramePayload = 125; // the longest single-byte payload length

struct RequestHead {
    char text[requestHeadSize]; // always NUL-terminated
    size_t length = 0;
    int lineEndRun = 0; // consecutive CR or LF bytes at the end
};

enum class HeadStatus { incomplete, complete, tooLong };

void clearRequestHead(RequestHead& head);

// Appends one received byte. The head is complete at its empty line (LF LF or
// LF CR LF, so CR LF and bare LF line ends alike) or after four consecutive CR
// or LF bytes; tooLong when it filled its 8192 bytes without that.
HeadStatus appendHeadByte(RequestHead& head, unsigned char byte);

// The value of the first header line named "Sec-WebSocket-Key" (in any letter
// case, blanks allowed before its ":"), without the blanks around it, up to
// the line's CR or LF. Only header lines count: never the request line, never
// a header whose name merely starts with this one. The head ends at its first
// NUL or at length, whichever comes first; no search goes beyond it. No such
// header gives an empty key. False when the value does not fit keySize-1
// characters.
// The next header line named name (any letter case, blanks allowed before its
// ":") from *line on: its value without the blanks around it, up to the line's
// CR or LF. Only header lines count, never the request line, never a header
// whose name merely starts with this one. The head ends at its first NUL or
// at length. *line starts at 0 and moves past each line looked at.
bool nextHeaderField(const char* head, size_t length, size_t* line, const char* name,
                     const char** value, size_t* valueLength);

bool findWebSocketKey(const char* head, size_t length, char* key, size_t keySize);

// Base64 of the SHA-1 of key + GUID into accept (acceptValueSize bytes).
// False when the key is longer than 91 characters or the digest failed.
bool computeAcceptKey(const char* key, char* accept);

// The reply head for a complete request head: "101" with upgrade set, or,
// when the head has no key or one too long to take (over 91 characters),
// "400 Bad Request" with upgrade false, after which the client is closed.
// -1 when the reply does not fit size.
int formatHandshakeReply(const RequestHead& head, char* out, size_t size, bool& upgrade);

// The reply to a head that did not fit maxRequestHeadLength ("431 Request
// Header Fields Too Large"), after which the client is closed; -1 when it does
// not fit size.
int formatHeadTooLongReply(char* out, size_t size);

// Client frames (RFC 6455 section 5). A request is one data message (text or
// binary, possibly in fragments); its command is its first payload byte. The
// rest of a message is read and dropped, never stored.
constexpr size_t maxControlPayload = 125;
// The most payload one data message may carry; a longer one ends the connection.
constexpr uint64_t maxMessagePayload = 65536;
// The close status codes this server sends of its own.
constexpr unsigned closeProtocolError = 1002;
constexpr unsigned closeMessageTooBig = 1009;

// How the request reader reaches its client. receive fills exactly count bytes
// (never more than a frame still holds, so nothing that follows is taken) and
// is false when the stream ended first; send writes one whole frame.
struct FrameLink {
    void* context;
    bool (*receive)(void* context, unsigned char* out, size_t count);
    bool (*send)(void* context, const unsigned char* data, size_t length);
};

// The data message under way on one connection; cleared when it is accepted.
struct RequestStream {
    bool inMessage = false;     // its final frame has not come yet
    int command = -1;           // its first payload byte, -1 before one came
    uint64_t messageLength = 0; // payload bytes so far
};

void clearRequestStream(RequestStream& stream);

// Reads frames until one data message is complete and returns its command
// (0..255; an empty message gives 0, a request other than "D"). A ping is
// answered at once with a pong of the same payload, a pong is dropped; both
// may come between any two frames. -1 when the stream ended, after a close
// frame (answered with a close frame echoing its status code) and after a
// frame no client may send (answered with close 1002, or 1009 for a message
// over maxMessagePayload, without reading any more of it).
int readRequestMessage(RequestStream& stream, const FrameLink& link);

// One unmasked text frame holding the JSON reply: its length, or -1 when the
// JSON text does not fit the buffer or a single-byte payload length (then no
// frame may be sent at all).
int formatReplyFrame(char* out, size_t size, const MotionOutput& motion,
                     const ButtonState& buttons);
