#pragma once
// The buttons as the user mapped them: keys and chords, mouse buttons, the
// wheel and the bridge's own actions, per press kind (press_kinds.h). A
// button without a line (and without the presenter preset) keeps the air
// mouse's meaning, and with no button mapped nothing here runs at all.
//
// A key or chord is tapped when its press kind is decided: modifiers down in
// order, the key down and up, the modifiers up in reverse. A mouse button on
// an immediate short press is held while the device's button is held (so it
// drags); on any other press kind it clicks. Whatever is down when the cycle
// ends, the worker stops or the program ends is released here.

#include <cstdint>

#include "device/device_line.h"
#include "output/hand/press_kinds.h"
#include "settings/button_actions.h"

// What a sample's actions ask of the air mouse itself.
struct BridgeRequests {
    bool recenter = false;
    bool clutchToggle = false;
    bool airMouseToggle = false;
    // Precision mode: held from an immediate short press until its release,
    // toggled by any other press kind.
    bool precisionPress = false;
    bool precisionRelease = false;
    bool precisionToggle = false;
    bool dwellToggle = false;
    // Motion as commands: the cursor holds still this sample (a gesture
    // held, a flick under way); when the hold ends it moves on from where it
    // stayed, or with holdToAim goes back to where the device points.
    bool holdStill = false;
    bool holdToAim = false;
    double holdSince = 0.0; // when what holds it began (a flick: its start)
    // The overlay: shown from an immediate short press until its release,
    // toggled by any other press kind.
    bool overlayPress = false;
    bool overlayRelease = false;
    bool overlayToggle = false;
};

struct ButtonMap {
    ButtonActions actions[buttonCount];
    PressRules rules[buttonCount];
    bool mapped[buttonCount];
    bool any;
    PressKinds kinds;
    PressEvent decided[buttonCount]; // this sample's, until sendButtonMap
    // Keys and mouse buttons the bridge holds down, in the order pressed.
    KeyId heldKeys[8];
    int heldKeyCount;
    bool heldMouse[buttonCount];     // by device button: its mouse button is down
    bool heldPrecision[buttonCount]; // by device button: it holds precision mode
    bool heldOverlay[buttonCount];   // by device button: it holds the overlay shown
    bool keySaid[keyIdCount];        // a key the platform refused, said once
};

// The mapping from the settings (button lines, preset, thresholds); the
// press kinds start afresh.
void loadButtonMap(ButtonMap& map);
// The same from given lines, for tests and the decoder.
void setButtonMap(ButtonMap& map, const ButtonActions actions[buttonCount], int32_t longMs,
                  int32_t doubleMs);

// One sample, in two steps around the air mouse: decideButtonMap decides the
// press kinds, gives the air mouse the states with the mapped buttons
// released and what the bridge's actions ask of it; sendButtonMap then sends
// the keys and clicks, after the cursor has been placed for this sample.
void decideButtonMap(ButtonMap& map, const ButtonState& buttons, double seconds,
                     ButtonState* forMouse, BridgeRequests* requests);
void sendButtonMap(ButtonMap& map);
// Both at once.
void driveButtonMap(ButtonMap& map, const ButtonState& buttons, double seconds,
                    ButtonState* forMouse, BridgeRequests* requests);
// One action at once, as a flick sends it: a key or chord tapped, a mouse
// button clicked, a wheel notch; the bridge's own actions and the gestures
// ask nothing here. How many button, wheel and key events it meant to send.
int tapButtonAction(ButtonMap& map, const ButtonAction& action);
// Whether some button has the bridge's `action` for some press kind.
bool buttonMapUses(const ButtonMap& map, BridgeAction action);

// Releases every key and mouse button the map holds (in reverse order) and
// forgets the presses under way.
void releaseButtonMap(ButtonMap& map);
