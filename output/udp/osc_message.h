#pragma once
// The OSC 1.0 message "/tolvane/motion" with seven float32 (d[0..2], q[0..3])
// and five int32 (the buttons), the same message from the bridge's UDP output
// and from tolvane-publish, so that one receiver works with either.
//
// Bytes: the address and the type tag string ",fffffffiiiii", each ended by a
// NUL and padded with NULs to a multiple of four, then the twelve arguments as
// big-endian 32-bit words (IEEE 754 for the floats): 16 + 16 + 48 = 80 bytes.

#include <cstddef>
#include <cstdint>

inline constexpr char oscMotionAddress[] = "/tolvane/motion";
inline constexpr size_t oscMotionSize = 80;

// Writes the message into out; returns its length (oscMotionSize), or 0 when
// size is too small (then nothing usable is written).
size_t encodeOscMotion(const float numbers[7], const int32_t buttons[5], unsigned char* out,
                       size_t size);
