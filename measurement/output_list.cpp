#include "measurement/output_list.h"

#include "output/lan/lan_output.h"
#include "output/pointer/pointer_output.h"

// One line per output. The LAN reply goes out before the air mouse moves, as
// it always has: a failed send restarts the cycle and the mouse skips that line.
const LineOutput* const workerOutputs[] = {
    &lanOutput,
    &pointerOutput,
};
const int workerOutputCount = static_cast<int>(sizeof workerOutputs / sizeof workerOutputs[0]);
