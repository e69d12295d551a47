#pragma once
// How the air mouse feels in the hand: adaptive smoothing of the pointing,
// a reference rotation that recenters the screen and that a clutch shifts,
// and a cursor that holds still around clicks. All of it is off by default,
// and then driveAirMouse is exactly updateCursor followed by injectButtons.

#include <cstdint>

#include "device/device_line.h"
#include "motion/orientation.h"
#include "output/hand/button_map.h"
#include "output/hand/dwell.h"
#include "settings/settings.h"

// The 1-euro filter's defaults, chosen with bench/air_mouse_feel (the
// settings table holds the same): the direction is a unit vector, so beta is
// per radian a second.
constexpr float defaultMouseMinCutoff = 0.3f;
constexpr float defaultMouseBeta = 6.0f;
constexpr float defaultMouseDerivativeCutoff = 3.0f;
// Precision mode and the dwell click, chosen with bench/air_mouse_feel: a
// quarter of the gain takes the tremor at rest below a pixel, and a second's
// rest within 8 px clicks a hand held still but not one that wanders at
// half a degree a second.
constexpr float defaultMousePrecision = 4.0f;
constexpr int32_t defaultDwellTimeMs = 1000;
constexpr int32_t defaultDwellRadius = 8;

struct MouseFeel {
    MouseSmoothing smoothing = MouseSmoothing::average;
    float minCutoff = defaultMouseMinCutoff; // Hz
    float beta = defaultMouseBeta;
    int32_t clickHoldMs = 0;
    MouseRecenter recenter = MouseRecenter::none;
    MouseClutch clutch = MouseClutch::none;
    // The gain's divisor while a button's Precision action holds.
    float precision = defaultMousePrecision;
    DwellClick dwellClick = DwellClick::off;
    int32_t dwellTimeMs = defaultDwellTimeMs;
    int32_t dwellRadius = defaultDwellRadius; // px
    // How the cursor follows: where the device points, by its turns, or
    // where it points with the centre dragged along past an edge.
    PointerMode mode = PointerMode::absolute;
    float relativeGain = 1.0f; // a factor on the relative moves
    // The speed estimate's cut-off: no setting of its own.
    float derivativeCutoff = defaultMouseDerivativeCutoff; // Hz
};

// A middle press held this long recenters; a left and a right press this
// close together make the left-right chord.
constexpr double recenterHoldSeconds = 1.0;
constexpr double chordSeconds = 0.08;

// The feel as the settings have it now (each field read whole).
MouseFeel mouseFeelFromSettings();
// Whether every part of the feel is off and the mode absolute (the air mouse
// as it always was).
bool mouseFeelOff(const MouseFeel& feel);
// How many samples the mouse window averages: adaptive smoothing replaces the
// window, so it filters single samples.
int32_t mouseWindowLength(const MouseFeel& feel, int32_t mouseAveraging);

// Forgets the filter, the button gestures, precision mode and the dwell's
// rest (each new measurement loop); a button a dwell drag holds is released.
void resetMouseFeel();
// Releases a button that a dwell drag holds (the cycle or the worker ends).
void releaseMouseFeel();
// Forgets the reference rotation as well (a new measurement run).
void resetMouseReference();

// Whether the cursor follows the device, or a button's AirMouse action has
// stopped it (the flicks' airmouse-off).
bool airMousePointing();

// Hybrid mode: the overflow past the edges (px) by which the last sample
// turned the reference, and whether there was any; for tolvane-decode.
bool takeCentreDrag(float* x, float* y);

// Where the air mouse last put the cursor (screen pixels before the integer
// conversion); false when it has not put it anywhere yet.
bool feltCursor(float* x, float* y);

// The air mouse for one sample that arrived at `seconds` (a steady clock):
// places the cursor and sends the button and wheel events.
void driveAirMouse(const MotionOutput& mouseOutput, const ButtonState& buttons, double seconds,
                   const MouseFeel& feel);
// The same with what the mapped buttons asked of it: a recenter now, the
// clutch toggled (the cursor holds still until toggled again, then moves on
// from where it stayed), pointing toggled off or on (buttons still act),
// precision mode held, let go or toggled (the gain divided by precision
// around where it began; at its end the cursor goes on from where it is),
// the dwell click toggled (off, or on as dwellClick says, left when that is
// off).
void driveAirMouseWith(const MotionOutput& mouseOutput, const ButtonState& buttons, double seconds,
                       const MouseFeel& feel, const BridgeRequests& requests);
