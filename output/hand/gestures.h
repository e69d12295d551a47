#pragma once
// Motion as commands, as pure functions over timed orientations: while a
// button whose action is a gesture is held, the device's turn since the
// press drives the wheel (Scroll: pitch), the horizontal wheel (HScroll:
// yaw), the zoom (Zoom: pitch, the wheel with Ctrl) or the volume (Volume:
// roll); a quick turn that ends is a flick, which sends a flick line's
// action. The caller keeps the records (a test makes fresh ones) and sends
// what a step asks for.
//
// Orientations are the device's quaternions (x, y, z, w), read as the air
// mouse reads them: a turn about the first axis raises the tip, one about
// the second swings it to the left, one about the third rolls it.

#include <cstdint>

#include "settings/button_actions.h"

struct GestureRules {
    float deadZone = 3.0f;    // degrees
    float scrollRate = 1.0f;  // notches a second per degree past the dead zone
    float scrollMax = 20.0f;  // notches a second
    float volumeStep = 10.0f; // degrees of roll per key
};

// A turn as the hand makes it, in degrees: the tip up, to the right, rolled
// to the right (clockwise as the holder sees it).
struct HandTurn {
    double pitch = 0.0;
    double yaw = 0.0;
    double roll = 0.0;
};

// The unit quaternion of a device quaternion; false when it has no length
// or is not finite.
bool unitQuaternion(const float in[4], double out[4]);
// The turn from `from` to `to` (unit quaternions) in from's own axes, each
// angle within -180..180.
HandTurn turnBetween(const double from[4], const double to[4]);

struct GestureTrack {
    bool active = false;
    GestureAction action = GestureAction::scroll;
    double origin[4] = {0, 0, 0, 1};
    double lastSeconds = 0.0;
    HandTurn raw;      // the last turn as turnBetween gave it
    HandTurn turn;     // the same, followed past +-180 degrees
    double owed = 0.0; // the part of a notch not yet sent
    int32_t volumeLevel = 0;
};

// What one sample asks of the desktop.
struct GestureStep {
    int32_t wheel = 0;     // notches, + away from the user (up)
    int32_t hWheel = 0;    // notches, + to the right
    bool withCtrl = false; // the wheel's notches zoom (Ctrl held around them)
    int32_t volume = 0;    // keys, + VolumeUp, - VolumeDown
};

// A gesture begins where the device pointed at the press (`origin`), and
// ends at the release: nothing more comes of it.
void startGesture(GestureTrack& track, GestureAction action, const double origin[4],
                  double seconds);
void stopGesture(GestureTrack& track);
// One sample of a held gesture. A gap longer than gestureLongestGap counts
// as that long, so that a pause of the device sends no burst.
GestureStep stepGesture(GestureTrack& track, const GestureRules& rules, const double q[4],
                        double seconds);
constexpr double gestureLongestGap = 0.1;

enum class FlickDirection : uint8_t { none, left, right, up, down };

struct FlickRules {
    float speed = 250.0f; // degrees a second
    double time = 0.15;   // seconds
};

// The rate is taken over at least flickRateSpan seconds, so that lines that
// arrive bunched (a serial driver's buffers) make no speed of their own; a
// gap longer than flickLongestGap starts afresh.
constexpr double flickRateSpan = 0.015;
constexpr double flickLongestGap = 0.25;
// A turn back within flickReturnSeconds of a flick, the other way, is the
// hand coming back, not a flick of its own.
constexpr double flickReturnSeconds = 0.4;

struct FlickTrack {
    bool have = false; // a reference orientation for the rate
    double q[4] = {0, 0, 0, 1};
    double seconds = 0.0;
    bool fast = false;    // a turn faster than the rules' speed is under way
    bool tooLong = false; // ... and has lasted longer than a flick may
    double fastSince = 0.0;
    // Where the span before began: the fast turn may have begun within it.
    double spanBefore = 0.0;
    double stillSince = 0.0;       // ... at the fast turn's start
    double pitch = 0.0, yaw = 0.0; // degrees turned while fast
    FlickDirection last = FlickDirection::none;
    double lastAt = 0.0;
};

struct FlickStep {
    FlickDirection flick = FlickDirection::none; // a flick ended with this sample
    // A fast turn is under way that may still be a flick: the air mouse
    // holds the cursor still through it.
    bool underWay = false;
    // Not later than the fast turn's beginning: the span before the first
    // fast one may already hold a part of it.
    double since = 0.0;
};

FlickStep stepFlick(FlickTrack& track, const FlickRules& rules, const double q[4], double seconds);
// "left", "right", "up", "down" (empty for none).
const char* flickName(FlickDirection direction);
