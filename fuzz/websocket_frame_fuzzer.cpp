#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/reply_text.h"
#include "protocol/websocket.h"

// The frame side: reply frames for any values a MotionOutput and ButtonState
// can hold (infinities, NaN, huge numbers, wide buttons), into a buffer of
// exactly the size the server uses; then the rest of the input as the byte
// stream of a client, read as the server reads it, request after request.

namespace {

// The client's stream; every byte asked for must lie within the frame being read.
struct Stream {
    const uint8_t* data;
    size_t size;
    size_t at;
    size_t frameEnd; // where the frame being read ends, by a count of our own
};

// The end of the frame that starts at `at`; SIZE_MAX when its header is
// incomplete (the reader then fails for want of bytes).
size_t frameEndAt(const uint8_t* data, size_t size, size_t at) {
    if (size - at < 2) return SIZE_MAX;
    unsigned code = data[at + 1] & 0x7F;
    size_t extended = code == 126 ? 2 : (code == 127 ? 8 : 0);
    size_t header = 2 + extended + ((data[at + 1] & 0x80) ? 4 : 0);
    if (size - at < header) return SIZE_MAX;
    uint64_t length = code;
    if (extended > 0) {
        length = 0;
        for (size_t i = 0; i < extended; ++i)
            length = (length << 8) | data[at + 2 + i];
    }
    if (length > UINT64_MAX - at - header) return SIZE_MAX;
    return static_cast<size_t>(at + header + length);
}

bool receive(void* context, unsigned char* out, size_t count) {
    Stream& s = *static_cast<Stream*>(context);
    if (count == 0) std::abort();
    if (s.at == s.frameEnd) s.frameEnd = frameEndAt(s.data, s.size, s.at);
    // Reading past the frame would take bytes of the next one.
    if (count > s.frameEnd - s.at) std::abort();
    if (count > s.size - s.at) return false;
    std::memcpy(out, s.data + s.at, count);
    s.at += count;
    return true;
}

// Only pongs and closes go out, each a well-formed unmasked control frame.
bool send(void*, const unsigned char* frame, size_t length) {
    if (length < 2 || length > 2 + maxControlPayload || frame[1] != length - 2) std::abort();
    if (frame[0] != 0x8A && frame[0] != 0x88) std::abort();
    if (frame[0] == 0x88 && length != 2 && length != 4) std::abort();
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t valueBytes = sizeof(MotionOutput) + sizeof(ButtonState);
    if (size < valueBytes) return 0;
    MotionOutput motion;
    ButtonState buttons;
    std::memcpy(&motion, data, sizeof motion);
    std::memcpy(&buttons, data + sizeof motion, sizeof buttons);

    char frame[2 + replyTextSize];
    int length = formatReplyFrame(frame, sizeof frame, motion, buttons);
    if (length >= 0) {
        int payload = static_cast<unsigned char>(frame[1]);
        if (length < 2 || length > 2 + maxTextFramePayload || payload != length - 2 ||
            static_cast<unsigned char>(frame[0]) != 0x81 || frame[2] != '{' ||
            frame[length - 1] != '}')
            std::abort();
    }
    char plain[replyTextSize];
    int plainLength = formatPlainReply(plain, sizeof plain, motion, buttons);
    if (plainLength >= static_cast<int>(sizeof plain)) std::abort();

    Stream stream{data + valueBytes, size - valueBytes, 0, 0};
    FrameLink link{&stream, receive, send};
    RequestStream messages;
    for (;;) {
        int command = readRequestMessage(messages, link);
        if (command < 0) break;
        // A request ends with its final frame: the next read starts afresh.
        if (command > 255 || stream.at != stream.frameEnd || messages.inMessage) std::abort();
    }
    return 0;
}
