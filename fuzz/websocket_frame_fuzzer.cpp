#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "output/lan/reply_text.h"
#include "output/lan/websocket.h"

// The frame side: request frames cut from any byte stream, and reply frames for
// any values a MotionOutput and ButtonState can hold (infinities, NaN, huge
// numbers, wide buttons), into a buffer of exactly the size the server uses.
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

    for (size_t at = valueBytes; at + requestFrameLength <= size; at += requestFrameLength) {
        int command = requestFrameCommand(data + at);
        if (command < 0 || command > 255) std::abort();
    }
    return 0;
}
