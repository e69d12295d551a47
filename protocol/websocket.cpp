#include "protocol/websocket.h"

#include <cstring>

#include "protocol/digest.h"
#include "protocol/reply_text.h"
#include "text/number_text.h"

namespace {

constexpr char keyHeaderName[] = "Sec-WebSocket-Key";
constexpr char webSocketGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
constexpr size_t guidLength = sizeof webSocketGuid - 1;
constexpr char base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Standard alphabet with "=" padding; out holds 4 * ceil(length / 3) + 1 bytes.
void encodeBase64(const unsigned char* data, size_t length, char* out) {
    size_t o = 0;
    for (size_t i = 0; i < length; i += 3) {
        size_t rest = length - i;
        unsigned group = static_cast<unsigned>(data[i]) << 16;
        if (rest > 1) group |= static_cast<unsigned>(data[i + 1]) << 8;
        if (rest > 2) group |= data[i + 2];
        out[o++] = base64Alphabet[(group >> 18) & 63];
        out[o++] = base64Alphabet[(group >> 12) & 63];
        out[o++] = rest > 1 ? base64Alphabet[(group >> 6) & 63] : '=';
        out[o++] = rest > 2 ? base64Alphabet[group & 63] : '=';
    }
    out[o] = '\0';
}

constexpr unsigned char finalFrame = 0x80;
constexpr unsigned char reservedBits = 0x70; // no extension is ever agreed
constexpr unsigned char opcodeBits = 0x0F;
constexpr unsigned char controlOpcodes = 0x08;
constexpr unsigned char maskedPayload = 0x80;
constexpr unsigned char lengthBits = 0x7F;
enum Opcode : unsigned char {
    continuationFrame = 0x0,
    textFrame = 0x1,
    binaryFrame = 0x2,
    closeFrame = 0x8,
    pingFrame = 0x9,
    pongFrame = 0xA
};
// Data payload is dropped in pieces of this size.
constexpr size_t dropChunk = 1024;

// HTTP header names are case-insensitive, and proxies and HTTP/2 gateways
// write them in lower case.
bool sameLettersIgnoringCase(const char* text, const char* name, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        unsigned char a = static_cast<unsigned char>(text[i]);
        unsigned char b = static_cast<unsigned char>(name[i]);
        if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// The blanks HTTP allows around a header's value.
bool isFieldBlank(char c) {
    return c == ' ' || c == '\t';
}

bool knownOpcode(unsigned opcode) {
    return opcode <= binaryFrame || (opcode >= closeFrame && opcode <= pongFrame);
}

bool sendControlFrame(const FrameLink& link, Opcode opcode, const unsigned char* payload,
                      size_t length) {
    unsigned char frame[2 + maxControlPayload];
    frame[0] = static_cast<unsigned char>(finalFrame | opcode);
    frame[1] = static_cast<unsigned char>(length);
    if (length > 0) memcpy(frame + 2, payload, length);
    return link.send(link.context, frame, length + 2);
}

bool sendClose(const FrameLink& link, unsigned status) {
    const unsigned char code[2] = {static_cast<unsigned char>(status >> 8),
                                   static_cast<unsigned char>(status & 0xFF)};
    return sendControlFrame(link, closeFrame, code, sizeof code);
}

// The codes a peer may put in a close frame: those of RFC 6455 section 7.4.1
// and the IANA registry that are not reserved for local use, and the ranges
// for libraries and applications.
bool sendableCloseCode(unsigned code) {
    if (code >= 3000 && code <= 4999) return true;
    return code >= 1000 && code <= 1014 && code != 1004 && code != 1005 && code != 1006;
}

// A connection that a client's frame has made unusable: the close frame tells
// the client why, and the read fails like a closed connection.
int failConnection(const FrameLink& link, unsigned status) {
    sendClose(link, status);
    return -1;
}

// Answers a control frame whose unmasked payload is in hand: true to go on
// reading, false when the read ends (close, or the client is gone).
bool answerControlFrame(const FrameLink& link, unsigned opcode, const unsigned char* payload,
                        size_t length) {
    if (opcode == pingFrame) return sendControlFrame(link, pongFrame, payload, length);
    if (opcode == pongFrame) return true;
    // Close: echo its status code; a body too short for one, or a code no
    // peer may send, is a protocol error.
    if (length == 0) {
        sendControlFrame(link, closeFrame, nullptr, 0);
    } else {
        unsigned code = length >= 2 ? (unsigned(payload[0]) << 8) | payload[1] : 0;
        sendClose(link, sendableCloseCode(code) ? code : closeProtocolError);
    }
    return false;
}

} // namespace

void clearRequestHead(RequestHead& head) {
    head.text[0] = '\0';
    head.length = 0;
    head.lineEndRun = 0;
}

HeadStatus appendHeadByte(RequestHead& head, unsigned char byte) {
    if (head.length >= requestHeadSize - 1) return HeadStatus::tooLong;
    head.text[head.length++] = static_cast<char>(byte);
    head.text[head.length] = '\0';
    head.lineEndRun = (byte == '\r' || byte == '\n') ? head.lineEndRun + 1 : 0;
    // The empty line ends the head, with CR LF or bare LF line ends (HTTP
    // allows a bare LF); four line-end bytes in a row always did.
    const size_t n = head.length;
    const bool emptyLine = byte == '\n' && n >= 2 &&
                           (head.text[n - 2] == '\n' ||
                            (n >= 3 && head.text[n - 2] == '\r' && head.text[n - 3] == '\n'));
    if (head.lineEndRun >= 4 || emptyLine) return HeadStatus::complete;
    return head.length >= requestHeadSize - 1 ? HeadStatus::tooLong : HeadStatus::incomplete;
}

bool nextHeaderField(const char* head, size_t length, size_t* line, const char* name,
                     const char** value, size_t* valueLength) {
    const size_t end = strnlen(head, length);
    const size_t nameLength = strlen(name);
    // Header lines start after a line end; the request line is never one, so
    // a name in its path or query is not taken.
    while (*line < end) {
        const char* lineEnd = static_cast<const char*>(memchr(head + *line, '\n', end - *line));
        if (lineEnd == nullptr) break;
        const size_t start = static_cast<size_t>(lineEnd - head) + 1;
        *line = start;
        if (end - start < nameLength || !sameLettersIgnoringCase(head + start, name, nameLength))
            continue;
        size_t at = start + nameLength;
        while (at < end && isFieldBlank(head[at]))
            ++at;
        if (at >= end || head[at] != ':') continue; // a longer name, or no value
        ++at;
        while (at < end && isFieldBlank(head[at]))
            ++at;
        size_t valueEnd = at;
        while (valueEnd < end && head[valueEnd] != '\r' && head[valueEnd] != '\n')
            ++valueEnd;
        while (valueEnd > at && isFieldBlank(head[valueEnd - 1]))
            --valueEnd;
        *value = head + at;
        *valueLength = valueEnd - at;
        return true;
    }
    *line = end;
    return false;
}

bool findWebSocketKey(const char* head, size_t length, char* key, size_t keySize) {
    key[0] = '\0';
    size_t line = 0;
    const char* value = nullptr;
    size_t valueLength = 0;
    if (!nextHeaderField(head, length, &line, keyHeaderName, &value, &valueLength)) return true;
    if (valueLength >= keySize) return false;
    memcpy(key, value, valueLength);
    key[valueLength] = '\0';
    return true;
}

bool computeAcceptKey(const char* key, char* accept) {
    char input[acceptInputSize];
    size_t keyLength = strnlen(key, acceptInputSize);
    if (keyLength + guidLength >= acceptInputSize) return false;
    memcpy(input, key, keyLength);
    memcpy(input + keyLength, webSocketGuid, guidLength + 1);
    unsigned char digest[sha1DigestSize];
    if (!sha1Digest(input, keyLength + guidLength, digest)) return false;
    encodeBase64(digest, sizeof digest, accept);
    return true;
}

int formatHandshakeReply(const RequestHead& head, char* out, size_t size, bool& upgrade) {
    char key[webSocketKeySize];
    char accept[acceptValueSize];
    upgrade = findWebSocketKey(head.text, head.length, key, sizeof key) && key[0] != '\0' &&
              computeAcceptKey(key, accept);
    TextBuilder text(out, size);
    if (upgrade) {
        text.append("HTTP/1.1 101 OK\r\nUpgrade: websocket\r\nConnection: upgrade\r\n"
                    "Sec-WebSocket-Accept: ");
        text.append(accept);
        text.append("\r\n\r\n");
    } else {
        // Without a usable key no accept value could be right: a "101" would
        // be a success that fails on the client's side.
        text.append("HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
    }
    return text.overflow ? -1 : static_cast<int>(text.length);
}

int formatHeadTooLongReply(char* out, size_t size) {
    TextBuilder text(out, size);
    text.append("HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\n"
                "Content-Length: 0\r\n\r\n");
    return text.overflow ? -1 : static_cast<int>(text.length);
}

int formatReplyFrame(char* out, size_t size, const MotionOutput& motion,
                     const ButtonState& buttons) {
    if (size < 3) return -1;
    int length = formatJsonReply(out + 2, size - 2, motion, buttons);
    // A longer text would need an extended length; sending it with a cut
    // length byte would be a malformed frame, so it is not sent at all.
    if (length < 0 || length > maxTextFramePayload) return -1;
    out[0] = static_cast<char>(0x81); // FIN, text
    out[1] = static_cast<char>(length);
    return length + 2;
}

void clearRequestStream(RequestStream& stream) {
    stream.inMessage = false;
    stream.command = -1;
    stream.messageLength = 0;
}

int readRequestMessage(RequestStream& stream, const FrameLink& link) {
    for (;;) {
        // Two bytes tell whether the frame may be read on at all; then the
        // extended length and the masking key, whose size they give.
        unsigned char header[14];
        if (!link.receive(link.context, header, 2)) return -1;
        const bool final = (header[0] & finalFrame) != 0;
        const unsigned opcode = header[0] & opcodeBits;
        const bool control = (opcode & controlOpcodes) != 0;
        const unsigned lengthCode = header[1] & lengthBits;
        if ((header[1] & maskedPayload) == 0 || (header[0] & reservedBits) != 0 ||
            !knownOpcode(opcode))
            return failConnection(link, closeProtocolError);
        if (control && (!final || lengthCode > maxControlPayload))
            return failConnection(link, closeProtocolError);
        // A continuation belongs to a message under way, and a new message
        // may only start once the last one is complete.
        if (!control && (opcode == continuationFrame) != stream.inMessage)
            return failConnection(link, closeProtocolError);

        const size_t extended = lengthCode == 126 ? 2 : (lengthCode == 127 ? 8 : 0);
        if (!link.receive(link.context, header + 2, extended + 4)) return -1;
        uint64_t length = lengthCode;
        if (extended > 0) {
            if (extended == 8 && (header[2] & 0x80) != 0)
                return failConnection(link, closeProtocolError);
            length = 0;
            for (size_t i = 0; i < extended; ++i)
                length = (length << 8) | header[2 + i];
        }
        const unsigned char* mask = header + 2 + extended;

        if (control) {
            unsigned char payload[maxControlPayload];
            const size_t count = static_cast<size_t>(length); // at most 125
            if (count > 0 && !link.receive(link.context, payload, count)) return -1;
            for (size_t i = 0; i < count; ++i)
                payload[i] ^= mask[i % 4];
            if (!answerControlFrame(link, opcode, payload, count)) return -1;
            continue;
        }

        if (length > maxMessagePayload - stream.messageLength)
            return failConnection(link, closeMessageTooBig);
        stream.messageLength += length;
        for (uint64_t left = length; left > 0;) {
            unsigned char chunk[dropChunk];
            const size_t count = left < dropChunk ? static_cast<size_t>(left) : dropChunk;
            if (!link.receive(link.context, chunk, count)) return -1;
            // The first byte of a message is always at a frame's offset 0.
            if (stream.command < 0) stream.command = chunk[0] ^ mask[0];
            left -= count;
        }
        stream.inMessage = !final;
        if (final) {
            const int command = stream.command < 0 ? 0 : stream.command;
            clearRequestStream(stream);
            return command;
        }
    }
}
