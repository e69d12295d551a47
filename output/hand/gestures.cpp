#include "output/hand/gestures.h"

#include <cmath>

#include "motion/angular_rate.h"

namespace {

constexpr double degreesPerRadian = 57.29577951308232;

double wrapDegrees(double angle) {
    while (angle > 180.0)
        angle -= 360.0;
    while (angle <= -180.0)
        angle += 360.0;
    return angle;
}

// Past the dead zone, a rate in notches a second: further tilt, faster, up
// to the cap; the sign of the tilt.
double notchRate(double angle, const GestureRules& rules) {
    const double beyond = std::fabs(angle) - rules.deadZone;
    if (!(beyond > 0.0)) return 0.0;
    double rate = rules.scrollRate * beyond;
    if (rate > rules.scrollMax) rate = rules.scrollMax;
    return angle < 0.0 ? -rate : rate;
}

} // namespace

bool unitQuaternion(const float in[4], double out[4]) {
    double length = 0.0;
    for (int i = 0; i < 4; ++i) {
        out[i] = in[i];
        length += out[i] * out[i];
    }
    if (!std::isfinite(length) || length < 1e-12) return false;
    length = std::sqrt(length);
    for (int i = 0; i < 4; ++i)
        out[i] /= length;
    return true;
}

HandTurn turnBetween(const double from[4], const double to[4]) {
    // d = conj(from) * to: the turn in from's own axes.
    const double ax = -from[0], ay = -from[1], az = -from[2], aw = from[3];
    const double bx = to[0], by = to[1], bz = to[2], bw = to[3];
    const double w = aw * bw - ax * bx - ay * by - az * bz;
    const double x = aw * bx + ax * bw + ay * bz - az * by;
    const double y = aw * by - ax * bz + ay * bw + az * bx;
    const double z = aw * bz + ax * by - ay * bx + az * bw;
    // Where the tip points now, as the air mouse projects it: its screen x
    // grows against the first component, its y with the second.
    const double fx = 2.0 * (x * z + y * w);
    const double fy = 2.0 * (y * z - x * w);
    const double fz = 1.0 - 2.0 * (x * x + y * y);
    HandTurn turn;
    turn.yaw = std::atan2(-fx, fz) * degreesPerRadian;
    turn.pitch = std::atan2(-fy, std::sqrt(fx * fx + fz * fz)) * degreesPerRadian;
    // The twist about the pointing axis; rolling right turns it negatively.
    turn.roll = wrapDegrees(-2.0 * std::atan2(z, w) * degreesPerRadian);
    return turn;
}

void startGesture(GestureTrack& track, GestureAction action, const double origin[4],
                  double seconds) {
    track = GestureTrack{};
    track.active = true;
    track.action = action;
    for (int i = 0; i < 4; ++i)
        track.origin[i] = origin[i];
    track.lastSeconds = seconds;
}

void stopGesture(GestureTrack& track) {
    track.active = false;
    track.owed = 0.0;
}

GestureStep stepGesture(GestureTrack& track, const GestureRules& rules, const double q[4],
                        double seconds) {
    GestureStep step;
    if (!track.active) return step;
    // Followed past +-180 degrees: a roll on through half a turn keeps
    // counting instead of jumping to the other side.
    const HandTurn now = turnBetween(track.origin, q);
    track.turn.pitch += wrapDegrees(now.pitch - track.raw.pitch);
    track.turn.yaw += wrapDegrees(now.yaw - track.raw.yaw);
    track.turn.roll += wrapDegrees(now.roll - track.raw.roll);
    track.raw = now;
    double dt = seconds - track.lastSeconds;
    if (!(dt > 0.0)) dt = 0.0; // time that runs backward stands still
    if (dt > gestureLongestGap) dt = gestureLongestGap;
    track.lastSeconds = seconds > track.lastSeconds ? seconds : track.lastSeconds;

    if (track.action == GestureAction::volume) {
        // A step each volumeStep degrees from the press; going back needs a
        // whole step, so a hand resting at a step's edge does not chatter.
        const double size = rules.volumeStep > 0.0f ? rules.volumeStep : 1.0;
        while (track.turn.roll >= (track.volumeLevel + 1) * size) {
            ++track.volumeLevel;
            ++step.volume;
        }
        while (track.turn.roll <= (track.volumeLevel - 1) * size) {
            --track.volumeLevel;
            --step.volume;
        }
        return step;
    }
    const double angle = track.action == GestureAction::hScroll ? track.turn.yaw : track.turn.pitch;
    const double rate = notchRate(angle, rules);
    // Inside the dead zone nothing is owed: coming back to rest ends the
    // scrolling at once.
    if (rate == 0.0) {
        track.owed = 0.0;
        return step;
    }
    // A reversal drops what was owed the other way.
    if ((rate > 0.0) != (track.owed > 0.0)) track.owed = 0.0;
    track.owed += rate * dt;
    const double whole = std::trunc(track.owed);
    track.owed -= whole;
    const auto notches = static_cast<int32_t>(whole);
    if (track.action == GestureAction::hScroll) {
        step.hWheel = notches;
    } else {
        step.wheel = notches;
        step.withCtrl = track.action == GestureAction::zoom && notches != 0;
    }
    return step;
}

FlickStep stepFlick(FlickTrack& track, const FlickRules& rules, const double q[4], double seconds) {
    FlickStep step;
    const double gap = seconds - track.seconds;
    if (!track.have || gap > flickLongestGap || gap < 0.0) {
        // No rate yet: a fresh reference, and whatever was under way ends
        // without a flick.
        track = FlickTrack{.have = true,
                           .q = {q[0], q[1], q[2], q[3]},
                           .seconds = seconds,
                           .spanBefore = seconds,
                           .last = track.last,
                           .lastAt = track.lastAt};
        return step;
    }
    if (gap < flickRateSpan) {
        step.underWay = track.fast && !track.tooLong;
        step.since = track.stillSince;
        return step;
    }
    double rate[3];
    angularRate(track.q, q, gap, rate);
    const double pitchRate = rate[0] * degreesPerRadian; // the tip up
    const double yawRate = -rate[1] * degreesPerRadian;  // to the right
    const double speed = std::sqrt(pitchRate * pitchRate + yawRate * yawRate);
    const double from = track.seconds; // where this rate's span began
    const double before = track.spanBefore;
    for (int i = 0; i < 4; ++i)
        track.q[i] = q[i];
    track.seconds = seconds;
    track.spanBefore = from;

    if (speed > rules.speed) {
        if (!track.fast) {
            track.fast = true;
            track.tooLong = false;
            track.fastSince = from;
            track.stillSince = before;
            track.pitch = track.yaw = 0.0;
        }
        track.pitch += pitchRate * gap;
        track.yaw += yawRate * gap;
        if (seconds - track.fastSince > rules.time + flickRateSpan) track.tooLong = true;
        step.underWay = !track.tooLong;
        step.since = track.stillSince;
        return step;
    }
    if (!track.fast) return step;
    // The fast turn has ended: a flick when it was short, the way it went
    // furthest.
    track.fast = false;
    if (track.tooLong) return step;
    FlickDirection direction;
    if (std::fabs(track.yaw) >= std::fabs(track.pitch))
        direction = track.yaw > 0.0 ? FlickDirection::right : FlickDirection::left;
    else
        direction = track.pitch > 0.0 ? FlickDirection::up : FlickDirection::down;
    const bool opposite =
        (direction == FlickDirection::left && track.last == FlickDirection::right) ||
        (direction == FlickDirection::right && track.last == FlickDirection::left) ||
        (direction == FlickDirection::up && track.last == FlickDirection::down) ||
        (direction == FlickDirection::down && track.last == FlickDirection::up);
    if (opposite && track.fastSince - track.lastAt < flickReturnSeconds) {
        track.last = FlickDirection::none; // the return; the next one counts
        return step;
    }
    track.last = direction;
    track.lastAt = seconds;
    step.flick = direction;
    return step;
}

const char* flickName(FlickDirection direction) {
    constexpr const char* names[] = {"", "left", "right", "up", "down"};
    return names[static_cast<int>(direction)];
}
