#pragma once
// Device lines for the tests.

#include <string>

#include "device/device_line.h"
#include "text/number_text.h"

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
    const int32_t sum = deviceLineChecksum((line + "00\r").c_str());
    line += char('0' + sum / 10);
    line += char('0' + sum % 10);
    line += "\r";
    return line;
}

// The same line with a checksum that does not match.
inline std::string withWrongChecksum(std::string line) {
    line[74] = line[74] == '9' ? '0' : char(line[74] + 1);
    return line;
}

// The checksum digits computed here, apart from the parser's own routine.
inline bool checksumMatches(const char* line) {
    int sum = 0;
    for (int k = 0; k <= 72; ++k)
        sum += static_cast<signed char>(line[k]);
    return line[73] == '0' + sum % 100 / 10 && line[74] == '0' + sum % 10;
}
