#include "motion/angular_rate.h"

#include <algorithm>
#include <cmath>

void angularRate(const double a[4], const double b[4], double seconds, double rate[3]) {
    // d = conj(a) * b
    const double ax = -a[0], ay = -a[1], az = -a[2], aw = a[3];
    const double bx = b[0], by = b[1], bz = b[2], bw = b[3];
    double dw = aw * bw - ax * bx - ay * by - az * bz;
    double dx = aw * bx + ax * bw + ay * bz - az * by;
    double dy = aw * by - ax * bz + ay * bw + az * bx;
    double dz = aw * bz + ax * by - ay * bx + az * bw;
    if (dw < 0) { // the shorter way round
        dw = -dw;
        dx = -dx;
        dy = -dy;
        dz = -dz;
    }
    const double s = std::sqrt(dx * dx + dy * dy + dz * dz);
    // angle / s, taken as 2 / |d| when the turn is tiny
    const double scale = s > 1e-12 ? 2.0 * std::atan2(s, dw) / s : 2.0 / std::max(dw, 1e-12);
    rate[0] = dx * scale / seconds;
    rate[1] = dy * scale / seconds;
    rate[2] = dz * scale / seconds;
}
