#include "protocol/reply_text.h"

#include <cmath>

#include "text/number_text.h"

namespace {

// The twelve values in reply order, separated by sep0 inside d, etc.
int formatReply(char* out, size_t size, const MotionOutput& motion, const ButtonState& buttons,
                const char* open, const char* qOpen, const char* bOpen, const char* close) {
    TextBuilder text(out, size);
    text.append(open);
    for (int i = 0; i < 3; ++i) {
        if (i > 0) text.append(",");
        text.appendFixed(static_cast<double>(motion.anglesOrAcceleration[i]), 3, 8);
    }
    text.append(qOpen);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) text.append(",");
        text.appendFixed(static_cast<double>(motion.quaternion[i]), 5, 8);
    }
    text.append(bOpen);
    for (int i = 0; i < 5; ++i) {
        if (i > 0) text.append(",");
        text.appendInteger(buttons.button[i]);
    }
    text.append(close);
    // A cut reply would be a wrong reply: report it so that none is sent.
    return text.overflow ? -1 : static_cast<int>(text.length);
}

} // namespace

int formatPlainReply(char* out, size_t size, const MotionOutput& motion,
                     const ButtonState& buttons) {
    return formatReply(out, size, motion, buttons, "", ",", ",", "");
}

int formatJsonReply(char* out, size_t size, const MotionOutput& motion,
                    const ButtonState& buttons) {
    // JSON has no infinity or not-a-number; such a text would break the
    // client's parser, so it is refused like one that does not fit.
    for (float v : motion.anglesOrAcceleration)
        if (!std::isfinite(v)) return -1;
    for (float v : motion.quaternion)
        if (!std::isfinite(v)) return -1;
    return formatReply(out, size, motion, buttons, "{\"d\":[", "],\"q\":[", "],\"b\":[", "]}");
}
