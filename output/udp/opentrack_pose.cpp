#include "output/udp/opentrack_pose.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr double degreesPerRadian = 57.295779513082320876798154814105;

void putLittleEndian(unsigned char* out, double value) {
    uint64_t word;
    std::memcpy(&word, &value, sizeof word);
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<unsigned char>(word >> (8 * i));
}

} // namespace

HeadAngles headAnglesOf(const float q[4]) {
    // The same rotation in a head frame (x forward, y left, z up), which is
    // the device's frame seen through the air mouse's mapping (forward = the
    // third axis, left = the first, up = minus the second). That mapping is a
    // mirror, so the vector part also changes sign.
    const double length = std::sqrt(double(q[0]) * q[0] + double(q[1]) * q[1] +
                                    double(q[2]) * q[2] + double(q[3]) * q[3]);
    const double x = -double(q[2]) / length;
    const double y = -double(q[0]) / length;
    const double z = double(q[1]) / length;
    const double w = double(q[3]) / length;

    // Rotation matrix entries r<row><column> of the head's orientation.
    const double r00 = 1 - 2 * (y * y + z * z);
    const double r10 = 2 * (x * y + z * w);
    const double r20 = 2 * (x * z - y * w);
    const double r21 = 2 * (y * z + x * w);
    const double r22 = 1 - 2 * (x * x + y * y);
    const double r01 = 2 * (x * y - z * w);
    const double r11 = 1 - 2 * (x * x + z * z);

    // The matrix is Rz(-yaw) Ry(-pitch) Rx(-roll): turning right, looking up
    // and leaning left are the negative turns about up, left and forward.
    HeadAngles angles;
    const double cosPitch = std::sqrt(r22 * r22 + r21 * r21);
    angles.pitch = std::atan2(r20, cosPitch) * degreesPerRadian;
    if (cosPitch > 1e-10) {
        angles.yaw = std::atan2(-r10, r00) * degreesPerRadian;
        angles.roll = std::atan2(-r21, r22) * degreesPerRadian;
    } else {
        // Looking straight up or down: roll and yaw turn about the same
        // axis; all of it goes to yaw.
        angles.yaw = std::atan2(r01, r11) * degreesPerRadian;
        angles.roll = 0;
    }
    // No negative zeros on the wire: a level device sends plain zero bytes.
    angles.yaw += 0.0;
    angles.pitch += 0.0;
    angles.roll += 0.0;
    return angles;
}

void encodeOpentrackPose(const HeadAngles& angles, unsigned char out[opentrackPoseSize]) {
    const double values[6] = {0.0, 0.0, 0.0, angles.yaw, angles.pitch, angles.roll};
    for (int i = 0; i < 6; ++i)
        putLittleEndian(out + 8 * i, values[i]);
}
