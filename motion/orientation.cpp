#include "motion/orientation.h"

#include <cmath>

namespace {

// The double nearest to 3.1415926535, deliberately not the one nearest to pi:
// the degrees the device's users know come from this constant.
constexpr double piForDegrees = 3.1415926535;
constexpr double gimbalLimit = 0.9999999;

float degrees(float angle) {
    return static_cast<float>(static_cast<double>(angle) / piForDegrees * 180.0);
}

float atan2Single(float y, float x) {
    return static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
}

} // namespace

RotationMatrix quaternionToMatrix(float x, float y, float z, float w) {
    // Every product is rounded before the sum: keep the statements apart.
    const float x2 = x + x, y2 = y + y, z2 = z + z;
    RotationMatrix r{};
    float a, b;
    a = z2 * z;
    b = y2 * y;
    r.m[0] = 1.0f - (a + b);
    a = z2 * w;
    b = y2 * x;
    r.m[1] = a + b;
    a = z2 * x;
    b = y2 * w;
    r.m[2] = a - b;
    a = y2 * x;
    b = z2 * w;
    r.m[4] = a - b;
    a = z2 * z;
    b = x2 * x;
    r.m[5] = 1.0f - (a + b);
    a = x2 * w;
    b = z2 * y;
    r.m[6] = a + b;
    a = y2 * w;
    b = z2 * x;
    r.m[8] = a + b;
    a = z2 * y;
    b = x2 * w;
    r.m[9] = a - b;
    a = y2 * y;
    b = x2 * x;
    r.m[10] = 1.0f - (a + b);
    r.m[15] = 1.0f;
    return r;
}

MotionOutput identityMotion() {
    return MotionOutput{{0.0f, 0.0f, -0.0f}, {0.0f, 0.0f, 0.0f, 1.0f}};
}

MotionOutput computeMotion(const Sample* slots, int32_t count, bool accelerationOutput,
                           const MotionOutput& previous) {
    // Sums start from the oldest slot (not from +0, which would turn a lone
    // -0 into +0) and add strictly in slot order.
    float sum[7];
    for (int i = 0; i < 7; ++i)
        sum[i] = slots[0].value[i];
    for (int32_t k = 1; k < count; ++k)
        for (int i = 0; i < 7; ++i)
            sum[i] = sum[i] + slots[k].value[i];
    const float n = static_cast<float>(count);

    float a[4];
    for (int i = 0; i < 4; ++i)
        a[i] = sum[3 + i] / n;
    float t = a[0] * a[0];
    t = t + a[1] * a[1];
    t = t + a[2] * a[2];
    t = t + a[3] * a[3];
    const float length = static_cast<float>(std::sqrt(static_cast<double>(t)));

    MotionOutput out;
    for (int i = 0; i < 4; ++i)
        out.quaternion[i] = a[i] / length;
    if (t == 0.0f || std::isinf(t) || std::isnan(out.quaternion[0]) ||
        std::isnan(out.quaternion[1]) || std::isnan(out.quaternion[2]) ||
        std::isnan(out.quaternion[3])) {
        // Opposite samples cancelled, or components so large that the length
        // overflowed: the average points nowhere usable. Keep the last
        // orientation this window had.
        for (int i = 0; i < 4; ++i)
            out.quaternion[i] = previous.quaternion[i];
    }

    if (accelerationOutput) {
        for (int i = 0; i < 3; ++i)
            out.anglesOrAcceleration[i] = sum[i] / n;
        return out;
    }

    const RotationMatrix m = quaternionToMatrix(out.quaternion[0], out.quaternion[1],
                                                -out.quaternion[2], out.quaternion[3]);
    float u = m.m[2];
    if (u > 1.0f) u = 1.0f;
    if (u < -1.0f) u = -1.0f;
    const float beta = static_cast<float>(std::asin(static_cast<double>(-u)));
    float alpha, gamma;
    if (std::fabs(static_cast<double>(m.m[2])) < gimbalLimit) {
        alpha = atan2Single(m.m[6], m.m[10]);
        gamma = atan2Single(m.m[1], m.m[0]);
    } else {
        alpha = 0.0f;
        gamma = atan2Single(-m.m[4], m.m[5]);
    }
    out.anglesOrAcceleration[0] = degrees(alpha);
    out.anglesOrAcceleration[1] = degrees(beta);
    out.anglesOrAcceleration[2] = -degrees(gamma);
    return out;
}
