#pragma once
// The turn between two orientations as a rate: what a gyroscope would have
// read between two samples. The DSU pad's gyroscope and the flicks of the
// hand both take it from here.

// The turn from a to b (unit quaternions x, y, z, w; b = a * d) in a's own
// axes, the shorter way round, as radians a second over `seconds` (> 0).
void angularRate(const double a[4], const double b[4], double seconds, double rate[3]);
