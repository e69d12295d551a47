#pragma once
// The air mouse as one of the worker's outputs: with mouseEnabled on, every
// accepted line moves the cursor and sends the buttons' events, and the
// device is read even while no LAN client asks.

#include "output/hand/gestures.h"
#include "protocol/line_output.h"

extern const LineOutput pointerOutput;

// For tolvane-decode: the flick the last pass sent, and how many events its
// action sent (the last of the pass's); none once taken.
FlickDirection takeFlickOfPass(int* events);
