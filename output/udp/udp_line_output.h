#pragma once
// The UDP output as one of the worker's outputs: opened when a cycle begins,
// one datagram for every accepted line, closed at a restart.

#include "protocol/line_output.h"

extern const LineOutput udpLineOutput;
