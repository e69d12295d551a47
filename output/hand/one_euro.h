#pragma once
// A 1-euro filter (a low-pass whose cut-off rises with the speed) over a
// three-component vector: one cut-off for all three, from the length of the
// vector's rate of change, so that a direction is smoothed as a whole.

#include <cstdint>

struct OneEuroParameters {
    double minCutoff;        // Hz, the cut-off at rest
    double beta;             // added cut-off per unit of speed (per second)
    double derivativeCutoff; // Hz, for the speed estimate
};

struct OneEuroFilter {
    double value[3];
    double rate[3]; // smoothed rate of change, per second
    double lastTime;
    bool primed; // false until the first sample
};

// The period assumed when a sample's time is not after the previous one's.
constexpr double oneEuroFallbackPeriod = 1.0 / 150.0;

void resetOneEuro(OneEuroFilter& filter);
// Filters one sample taken at `seconds`; a time equal to or before the
// previous one counts as one fallback period later. The first sample after a
// reset passes unchanged. A sample that is not finite is refused (false) and
// leaves the filter as it was.
bool filterOneEuro(OneEuroFilter& filter, const float in[3], double seconds,
                   const OneEuroParameters& p, float out[3]);
