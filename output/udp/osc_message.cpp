#include "output/udp/osc_message.h"

#include <cstring>

namespace {

constexpr char typeTags[] = ",fffffffiiiii";

// A string with its NUL, padded with NULs to the next multiple of four.
size_t putPaddedString(unsigned char* out, const char* text) {
    const size_t length = std::strlen(text);
    const size_t padded = (length + 4) & ~size_t{3};
    std::memset(out, 0, padded);
    std::memcpy(out, text, length);
    return padded;
}

void putBigEndian(unsigned char* out, uint32_t word) {
    out[0] = static_cast<unsigned char>(word >> 24);
    out[1] = static_cast<unsigned char>(word >> 16);
    out[2] = static_cast<unsigned char>(word >> 8);
    out[3] = static_cast<unsigned char>(word);
}

} // namespace

size_t encodeOscMotion(const float numbers[7], const int32_t buttons[5], unsigned char* out,
                       size_t size) {
    if (size < oscMotionSize) return 0;
    size_t at = putPaddedString(out, oscMotionAddress);
    at += putPaddedString(out + at, typeTags);
    for (int i = 0; i < 7; ++i, at += 4) {
        uint32_t word;
        std::memcpy(&word, &numbers[i], sizeof word);
        putBigEndian(out + at, word);
    }
    for (int i = 0; i < 5; ++i, at += 4)
        putBigEndian(out + at, static_cast<uint32_t>(buttons[i]));
    return at;
}
