#pragma once
// The UDP output as one of the worker's outputs: opened when a worker starts,
// one datagram for every accepted line, closed when the worker ends.

#include "protocol/line_output.h"

extern const LineOutput udpLineOutput;
