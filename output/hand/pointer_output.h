#pragma once
// The air mouse as one of the worker's outputs: with mouseEnabled on, every
// accepted line moves the cursor and sends the buttons' events, and the
// device is read even while no LAN client asks.

#include "protocol/line_output.h"

extern const LineOutput pointerOutput;
