#include "output/udp/udp_line_output.h"

#include "output/udp/udp_output.h"
#include "settings/settings.h"

namespace {

// Once per worker: the target as the settings hold it now. A name is looked
// up off the measurement's path, so no cycle (and no LAN client) waits for it.
void prepareForWorker() {
    char target[udpTargetSize];
    getUdpTarget(target);
    prepareUdpOutput(target, settings.udpFormat.load());
}

OutputOutcome sendLine(const LinePass& pass) {
    if (pass.accepted) sendUdpOutput(*pass.lanOutput, *pass.buttons);
    // A datagram that does not go out is counted, never a restart.
    return {};
}

} // namespace

// No stop and no restart: a send never waits, so there is nothing to
// release, and the socket serves every cycle of the worker; it is closed when
// the worker ends, on its own thread.
const LineOutput udpLineOutput = {
    .prepare = prepareForWorker,
    .readsUnasked = udpOutputWanted,
    .needsLanOutput = udpOutputWanted,
    .begin = beginUdpCycle,
    .pass = sendLine,
    .finish = finishUdpOutput,
};
