#include "measurement/output_list.h"

#include "output/lan/lan_output.h"
#include "output/pointer/pointer_output.h"
#include "output/udp/udp_line_output.h"

// One line per output. The LAN reply goes out before the air mouse moves, as
// it always has: a failed send restarts the cycle and the mouse skips that line.
// The UDP datagram comes last, so the other two keep their timing.
const LineOutput* const workerOutputs[] = {
    &lanOutput,
    &pointerOutput,
    &udpLineOutput,
};
const int workerOutputCount = static_cast<int>(sizeof workerOutputs / sizeof workerOutputs[0]);
