#include "output/dsu/dsu_motion.h"

#include <cmath>

#include "motion/angular_rate.h"

namespace {

constexpr double degreesPerRadian = 57.29577951308232;

} // namespace

void dsuButtonsOf(const ButtonState& buttons, uint8_t* buttons1, uint8_t* buttons2) {
    uint8_t one = 0, two = 0;
    if (buttons.button[0] == 1) two |= 0x20u; // A
    if (buttons.button[1] == 1) two |= 0x40u; // B
    if (buttons.button[2] == 1) one |= 0x10u; // D-pad up
    if (buttons.button[3] == 1) one |= 0x40u; // D-pad down
    if (buttons.button[4] == 1) two |= 0x10u; // X
    *buttons1 = one;
    *buttons2 = two;
}

DsuPadState dsuPadStateOf(DsuMotionTracker& tracker, const float quaternion[4],
                          const float acceleration[3], const ButtonState& buttons, int64_t micros) {
    DsuPadState state;
    dsuButtonsOf(buttons, &state.buttons1, &state.buttons2);
    state.timestampMicros = micros < 0 ? 0 : static_cast<uint64_t>(micros);
    for (int i = 0; i < 3; ++i)
        state.accel[i] = std::isfinite(acceleration[i]) ? acceleration[i] : 0.0f;

    double q[4];
    double length = 0;
    for (int i = 0; i < 4; ++i) {
        q[i] = quaternion[i];
        length += q[i] * q[i];
    }
    // A window without a usable orientation gives no rate and is not kept.
    if (!std::isfinite(length) || length < 1e-12) return state;
    length = std::sqrt(length);
    for (double& c : q)
        c /= length;

    const int64_t gap = micros - tracker.micros;
    // A line of the same microsecond adds its turn to the next one's.
    if (tracker.have && gap <= 0) return state;
    if (tracker.have && gap <= dsuLongestGapMicros) {
        double rate[3];
        angularRate(tracker.q, q, static_cast<double>(gap) * 1e-6, rate);
        state.gyro[0] = static_cast<float>(rate[0] * degreesPerRadian);  // pitch: tip up
        state.gyro[1] = static_cast<float>(-rate[1] * degreesPerRadian); // yaw: to the right
        state.gyro[2] = static_cast<float>(-rate[2] * degreesPerRadian); // roll: to the right
    }
    tracker.have = true;
    for (int i = 0; i < 4; ++i)
        tracker.q[i] = q[i];
    tracker.micros = micros;
    return state;
}
