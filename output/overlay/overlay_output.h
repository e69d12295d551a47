#pragma once
// The overlay's state and the thread that draws it. The hand's output says
// where the device points and when a button shows or hides the overlay; a
// drawing thread of its own paints at the display's rate and calls the
// platform's windows, so that the per-line step only hands over a position
// and goes on.

#include <cstdint>
#include <memory>

#include "output/overlay/overlay_paint.h"
#include "output/overlay/overlay_windows.h"

using OverlayWindowsOpener = std::unique_ptr<OverlayWindows> (*)();

// The programs that show the overlay give their platform's windows
// (openOverlayWindows) once at start-up; without them (the decoder) the
// state below is kept and nothing is drawn.
void setOverlayWindowsOpener(OverlayWindowsOpener open);

// The overlay settings in effect, as the drawing core takes them.
OverlayLook overlayLookFromSettings();

// Starts the drawing thread with `look` (the settings read at Run); it opens
// the windows on its own thread. A second start while one runs only takes
// the new look; without an opener it does nothing.
void startOverlay(const OverlayLook& look);

// Ends the drawing thread from any state: the windows hidden and closed,
// the thread joined, held and toggled forgotten. Does nothing when none runs.
void stopOverlay();

// Where the device points, in desktop pixels. Never waits.
void overlayPoint(int32_t x, int32_t y);

// A short press: shown while the button is down.
void overlayHold(bool down);
// A long or double press: on until the next such press.
void overlayToggle();
// Held or toggled on (whether or not a thread draws it).
bool overlayShown();
// Lets go of both, as when the device is lost: the overlay goes away.
void overlayForget();
