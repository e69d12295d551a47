#include "output/hand/one_euro.h"

#include <cmath>

namespace {

// The smoothing factor of an exponential low-pass with this cut-off over
// period dt; 0 (hold) for a cut-off that is not positive.
double smoothingFactor(double cutoff, double dt) {
    if (!(cutoff > 0.0)) return 0.0;
    const double tau = 1.0 / (2.0 * 3.14159265358979323846 * cutoff);
    return dt / (dt + tau);
}

} // namespace

void resetOneEuro(OneEuroFilter& filter) {
    filter = OneEuroFilter{{0, 0, 0}, {0, 0, 0}, 0.0, false};
}

bool filterOneEuro(OneEuroFilter& filter, const float in[3], double seconds,
                   const OneEuroParameters& p, float out[3]) {
    for (int i = 0; i < 3; ++i)
        if (!std::isfinite(in[i])) return false;
    if (!filter.primed) {
        for (int i = 0; i < 3; ++i) {
            filter.value[i] = in[i];
            filter.rate[i] = 0.0;
            out[i] = in[i];
        }
        filter.lastTime = seconds;
        filter.primed = true;
        return true;
    }
    double dt = seconds - filter.lastTime;
    // Equal times (two lines read in one go), a clock that steps back, or a
    // time that is not a number: one nominal period, never a division by 0.
    if (!(dt > 0.0) || !std::isfinite(dt)) dt = oneEuroFallbackPeriod;
    // Only a later time moves the reference: a sample that came with an
    // earlier time must not make the next period look longer.
    if (seconds > filter.lastTime) filter.lastTime = seconds;

    const double rateFactor = smoothingFactor(p.derivativeCutoff, dt);
    double speed2 = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double raw = (in[i] - filter.value[i]) / dt;
        filter.rate[i] += rateFactor * (raw - filter.rate[i]);
        speed2 += filter.rate[i] * filter.rate[i];
    }
    const double cutoff = p.minCutoff + p.beta * std::sqrt(speed2);
    const double factor = smoothingFactor(cutoff, dt);
    for (int i = 0; i < 3; ++i) {
        // Kept in double: a constant input then comes within far less than
        // a float's rounding step, and the float result equals the input.
        filter.value[i] += factor * (in[i] - filter.value[i]);
        out[i] = static_cast<float>(filter.value[i]);
    }
    return true;
}
