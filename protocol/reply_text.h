#pragma once
// The texts of one LAN reply: the plain comma-separated line and the JSON
// object of the WebSocket dialect.

#include <cstddef>

#include "device/device_line.h"
#include "motion/orientation.h"

constexpr size_t replyTextSize = 256;

// "%8.3f,%8.3f,%8.3f,%8.5f,%8.5f,%8.5f,%8.5f,%d,%d,%d,%d,%d"
// Returns the length, or -1 when the text does not fit into size-1 bytes
// (then the reply must not be sent at all).
int formatPlainReply(char* out, size_t size, const MotionOutput& motion,
                     const ButtonState& buttons);

// {"d":[%8.3f,%8.3f,%8.3f],"q":[%8.5f,%8.5f,%8.5f,%8.5f],"b":[%d,%d,%d,%d,%d]}
int formatJsonReply(char* out, size_t size, const MotionOutput& motion, const ButtonState& buttons);
