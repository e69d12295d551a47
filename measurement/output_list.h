#pragma once
// The outputs the worker walks, in the order each pass visits them.

#include "protocol/line_output.h"

extern const LineOutput* const workerOutputs[];
extern const int workerOutputCount;
