#include <cstdint>
#include <cstring>

#include "device/device_line.h"
#include "motion/averaging.h"
#include "motion/orientation.h"
#include "output/lan/reply_text.h"

// Any bytes the reader could hand over (up to its 256-byte buffer), through the
// parser and on into a window and both reply texts.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char line[deviceLineBufferSize];
    size_t n = size < sizeof line - 1 ? size : sizeof line - 1;
    std::memcpy(line, data, n);
    line[n] = '\0';
    Sample sample;
    ButtonState buttons;
    if (!parseDeviceLine(line, &sample, &buttons)) return 0;
    int32_t count = pushSample(lanWindow, sample, 3);
    MotionOutput out = computeMotion(lanWindow.samples, count, (n & 1) != 0, identityMotion());
    char reply[replyTextSize];
    formatPlainReply(reply, sizeof reply, out, buttons);
    formatJsonReply(reply, sizeof reply, out, buttons);
    return 0;
}
