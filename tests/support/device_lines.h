#pragma once
// Device lines for the tests, with checksums computed here, apart from the
// parser's own routine.

#include <string>

#include "text/number_text.h"

// The two checksum digits for a line body: the sum of its first 73 bytes as
// signed characters, modulo 100.
inline std::string checksumDigits(const std::string& body) {
    int sum = 0;
    for (size_t k = 0; k < body.size() && k <= 72; ++k)
        sum += static_cast<signed char>(body[k]);
    return {static_cast<char>('0' + sum % 100 / 10), static_cast<char>('0' + sum % 10)};
}

// A line the parser accepts: gravity on the third axis, the quaternion
// (x, y, z, w) and the five button digits.
inline std::string deviceLine(float x, float y, float z, float w, const char* buttons) {
    char number[32];
    std::string line = "TOL,";
    const float values[7] = {0.0f, 0.0f, 1.0f, x, y, z, w};
    for (float v : values) {
        formatFixed(number, sizeof number, v, 5, 8);
        line += number;
        line += ",";
    }
    line += buttons;
    line += ",";
    return line + checksumDigits(line) + "\r";
}

// The same line with a checksum that does not match.
inline std::string withWrongChecksum(std::string line) {
    line[74] = line[74] == '9' ? '0' : char(line[74] + 1);
    return line;
}

inline bool checksumMatches(const char* line) {
    const std::string text(line);
    return text.size() >= 75 && text.compare(73, 2, checksumDigits(text)) == 0;
}
