#include "measurement/output_list.h"

#include "output/dsu/dsu_output.h"
#include "output/lan/lan_output.h"
#include "output/hand/pointer_output.h"
#include "output/recorder/recorder.h"
#include "output/udp/udp_line_output.h"

// One line per output. The recorder comes first, so that it keeps a line even
// when a later output ends the pass. The LAN reply goes out before the air
// mouse moves, as it always has: a failed send restarts the cycle and the
// mouse skips that line. The UDP datagram comes last, so the other two keep
// their timing. The DSU server's pad data comes after it for the same reason.
const LineOutput* const workerOutputs[] = {
    &recorderOutput,
    &lanOutput,
    &pointerOutput,
    &udpLineOutput,
    &dsuOutput,
};
const int workerOutputCount = static_cast<int>(sizeof workerOutputs / sizeof workerOutputs[0]);
