#pragma once
// Motion as commands in the hand's output: the gesture buttons' tracks and
// the flicks, read from the settings, driven each accepted sample, and what
// they send (the wheel, the horizontal wheel, Ctrl with the wheel, the volume
// keys, a flick's action) sent through the held-input record, so that one
// release lets it all go. The worker's thread only.

#include <cstdint>

#include "device/device_line.h"
#include "output/hand/button_map.h"
#include "output/hand/gestures.h"
#include "settings/settings.h"

struct MotionCommands {
    GestureRules rules;
    FlickRules flickRules;
    int32_t flickWhen = flickWhenAirMouseOff;
    ButtonAction flicks[flickCount]; // left, right, up, down
    bool anyFlick = false;
    GestureTrack track[buttonCount];
    double pressedAt[buttonCount][4]; // where the device pointed at each press
    bool down[buttonCount];
    int releasedRun[buttonCount];
    FlickTrack flick;
    bool holding = false;        // the cursor was held still last sample
    bool holdingGesture = false; // ... by a gesture
    bool keySaid = false;        // a volume key the platform refused was said
    // For the decoder: the last flick and how many events its action sent.
    FlickDirection lastFlick = FlickDirection::none;
    int lastFlickEvents = 0;
};

// What the air mouse does with the cursor this sample.
struct MotionHold {
    bool still = false; // a gesture is held, or a flick is under way
    // A hold that ends now without a flick gives the cursor back to where the
    // device points; otherwise it moves on from where it stayed.
    bool toAim = false;
    double since = 0.0; // when the hold began: a flick's is where the cursor goes back to
};

// The flicks and the gestures' numbers from the settings; the tracks start
// afresh (each cycle).
void loadMotionCommands(MotionCommands& commands);
// Whether a flick line is set (the device is then read for the flicks).
bool motionCommandsRead(const MotionCommands& commands);
// One accepted sample, between decideButtonMap and sendButtonMap: the
// gesture actions the map decided begin, the releases end them, and what
// the gestures and a flick ask for is sent. airMouseOff: the air mouse
// does not point now (flickWhen=airmouse-off).
MotionHold driveMotionCommands(MotionCommands& commands, ButtonMap& map, const ButtonState& buttons,
                               const float quaternion[4], double seconds, bool airMouseOff);
// Ends every gesture and forgets a flick under way (the release of all that
// is held goes through held_input).
void stopMotionCommands(MotionCommands& commands);
// The decoder's: the flick of the last sample, and how many events its
// action sent (they come last); none once taken.
FlickDirection takeFlick(MotionCommands& commands, int* events);
