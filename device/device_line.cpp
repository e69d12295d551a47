#include "device/device_line.h"

#include <cmath>
#include <cstring>

#include "text/number_text.h"

namespace {

constexpr int fieldCount = 10;
constexpr int slotSize = 32;
constexpr int lastSummedByte = 72;

bool endsLine(char c) {
    return c == '\n' || c == '\r' || c == '\0';
}

} // namespace

int32_t deviceLineChecksum(const char* line) {
    int32_t sum = 0;
    for (int k = 0; k <= lastSummedByte && !endsLine(line[k]); ++k)
        sum += static_cast<signed char>(line[k]);
    return sum % 100;
}

bool parseDeviceLine(const char* line, Sample* sample, ButtonState* buttons) {
    if (line[0] == '\r') return false;

    char slot[fieldCount][slotSize] = {};
    int commas = 0;
    int field = 0;
    int position = 0;
    int32_t sum = 0;
    bool slotOverflow = false;
    for (int k = 0; !endsLine(line[k]); ++k) {
        char byte = line[k];
        if (k <= lastSummedByte) sum += static_cast<signed char>(byte);
        if (byte == ',') {
            ++commas;
            ++field;
            position = 0;
        } else if (field < fieldCount) {
            // A field longer than its slot cannot come from the device's
            // fixed layout; such a line is refused, never written past the slot.
            if (position >= slotSize - 1) {
                slotOverflow = true;
            } else {
                slot[field][position++] = byte;
            }
        }
    }

    if (commas != 9) return false;
    if (std::strcmp(slot[0], "TOL") != 0) return false;
    int32_t r = sum % 100;
    int32_t u = sum % 10;
    if (slot[9][0] != static_cast<char>(48 + r / 10)) return false;
    if (slot[9][1] != static_cast<char>(48 + u)) return false;
    if (slotOverflow) return false;
    // Missing button characters would be undefined; such a line is refused.
    if (std::strlen(slot[8]) < 5) return false;

    Sample converted;
    for (int i = 1; i <= 7; ++i) {
        double number = 0.0;
        if (!scanDecimal(slot[i], &number)) number = 0.0;
        float single = static_cast<float>(number);
        // One infinite or not-a-number sample would spoil a window for up to
        // 255 samples and reach clients as text no JSON reader accepts.
        if (!std::isfinite(single)) return false;
        converted.value[i - 1] = single;
    }
    ButtonState states;
    for (int j = 0; j < 5; ++j)
        states.button[j] = static_cast<signed char>(slot[8][j]) - 48;

    *sample = converted;
    *buttons = states;
    return true;
}
