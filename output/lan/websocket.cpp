#include "output/lan/websocket.h"

#include <cstring>

#include "output/lan/digest.h"
#include "output/lan/reply_text.h"
#include "text/number_text.h"

namespace {

constexpr char keyHeaderName[] = "Sec-WebSocket-Key";
constexpr size_t keyHeaderLength = sizeof keyHeaderName - 1;
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
    if (head.lineEndRun >= 4) return HeadStatus::complete;
    return head.length >= requestHeadSize - 1 ? HeadStatus::tooLong : HeadStatus::incomplete;
}

bool findWebSocketKey(const char* head, size_t length, char* key, size_t keySize) {
    key[0] = '\0';
    size_t end = strnlen(head, length);
    size_t at = 0;
    while (at + keyHeaderLength <= end && memcmp(head + at, keyHeaderName, keyHeaderLength) != 0)
        ++at;
    if (at + keyHeaderLength > end) return true;
    size_t value = at + keyHeaderLength;
    while (value < end && head[value] != ':')
        ++value;
    if (value >= end) return true;
    ++value;
    while (value < end && head[value] == ' ')
        ++value;
    size_t valueEnd = value;
    while (valueEnd < end && head[valueEnd] != '\r')
        ++valueEnd;
    size_t valueLength = valueEnd - value;
    if (valueLength >= keySize) return false;
    memcpy(key, head + value, valueLength);
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

int formatHandshakeReply(const RequestHead& head, char* out, size_t size) {
    char key[webSocketKeySize];
    char accept[acceptValueSize];
    if (!findWebSocketKey(head.text, head.length, key, sizeof key)) return -1;
    if (!computeAcceptKey(key, accept)) return -1;
    TextBuilder text(out, size);
    text.append("HTTP/1.1 101 OK\r\nUpgrade: websocket\r\nConnection: upgrade\r\n"
                "Sec-WebSocket-Accept: ");
    text.append(accept);
    text.append("\r\n\r\n");
    return text.overflow ? -1 : static_cast<int>(text.length);
}

int requestFrameCommand(const unsigned char* frame) {
    return frame[2] ^ frame[6];
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
