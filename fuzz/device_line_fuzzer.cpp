#include <cstdint>
#include <cstring>

#include "device/device_line.h"
#include "motion/averaging.h"
#include "protocol/line_step.h"
#include "protocol/reply_text.h"

// Any bytes the reader could hand over (up to its 256-byte buffer), through
// the per-line step and on into both reply texts.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char line[deviceLineBufferSize];
    size_t n = size < sizeof line - 1 ? size : sizeof line - 1;
    std::memcpy(line, data, n);
    line[n] = '\0';
    LineStepSettings settings;
    settings.mouseAveraging = 2;
    settings.lanAveraging = 3;
    settings.acceleration = (n & 1) != 0;
    LineState state{&mouseWindow, &lanWindow};
    LinePass pass = stepLine(state, settings, line, static_cast<int>(n));
    if (!pass.accepted) return 0;
    char reply[replyTextSize];
    formatPlainReply(reply, sizeof reply, *pass.lanOutput, *pass.buttons);
    formatJsonReply(reply, sizeof reply, *pass.lanOutput, *pass.buttons);
    return 0;
}
