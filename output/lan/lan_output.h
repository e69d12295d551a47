#pragma once
// The LAN server as one of the worker's outputs: on a pass a client asked
// for, the reply; at a restart or a stop, the sockets close.

#include "protocol/line_output.h"

extern const LineOutput lanOutput;
