#include "tools/devsim/sim_lines.h"

#include <cmath>

#include "text/number_text.h"

namespace {

constexpr int fieldWidth = 8;

bool appendField(TextBuilder& text, double value, int precision) {
    char field[32];
    if (formatFixed(field, sizeof field, value, precision, fieldWidth) != fieldWidth) return false;
    text.append(field);
    text.append(",");
    return true;
}

} // namespace

bool formatSimLine(const Sample& sample, const ButtonState& buttons, char* out) {
    TextBuilder text(out, simLineSize);
    text.append("TOL,");
    for (int i = 0; i < 7; ++i)
        if (!appendField(text, sample.value[i], i < 3 ? 3 : 5)) return false;
    for (int j = 0; j < 5; ++j) {
        if (buttons.button[j] < 0 || buttons.button[j] > 9) return false;
        const char digit[2] = {static_cast<char>('0' + buttons.button[j]), '\0'};
        text.append(digit);
    }
    text.append(",");
    int32_t sum = deviceLineChecksum(out);
    const char tail[4] = {static_cast<char>('0' + sum / 10), static_cast<char>('0' + sum % 10),
                          '\r', '\0'};
    text.append(tail);
    return !text.overflow && text.length == static_cast<size_t>(deviceLineLength);
}

void syntheticMotion(double step, Sample* sample, ButtonState* buttons) {
    const double pi = 3.14159265358979323846;
    const double turns = std::floor(step / simTurnLines);
    int axis = static_cast<int>(std::fmod(turns, 3.0));
    // Whole steps are exact: step k is line k+1 of a stream at 100 a second.
    double angle = 2.0 * pi * (step - turns * simTurnLines) / simTurnLines;
    double s = std::sin(angle / 2.0);
    double q[4] = {0.0, 0.0, 0.0, std::cos(angle / 2.0)}; // x, y, z, w
    q[axis] = s;
    // World "down" (0, 0, 1) seen in the device's frame: the third row of the
    // rotation matrix.
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    sample->value[0] = static_cast<float>(2.0 * (x * z - w * y));
    sample->value[1] = static_cast<float>(2.0 * (y * z + w * x));
    sample->value[2] = static_cast<float>(1.0 - 2.0 * (x * x + y * y));
    for (int i = 0; i < 4; ++i)
        sample->value[3 + i] = static_cast<float>(q[i]);
    for (int j = 0; j < 5; ++j)
        buttons->button[j] = 0;
}

void spoilChecksum(char* line) {
    line[74] = static_cast<char>(line[74] == '9' ? '0' : line[74] + 1);
}
