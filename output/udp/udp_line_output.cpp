#include "output/udp/udp_line_output.h"

#include "output/udp/udp_output.h"
#include "settings/settings.h"

namespace {

void openForCycle() {
    char target[udpTargetSize];
    getUdpTarget(target);
    openUdpOutput(target, settings.udpFormat.load());
}

OutputOutcome sendLine(const LinePass& pass) {
    if (pass.accepted) sendUdpOutput(*pass.lanOutput, *pass.buttons);
    // A datagram that does not go out is counted, never a restart.
    return {};
}

} // namespace

// No stop: a send never waits, so there is nothing to release; the socket
// is closed at a restart, and when the worker ends, on its own thread.
const LineOutput udpLineOutput = {
    .readsUnasked = udpOutputOpen,
    .needsLanOutput = udpOutputOpen,
    .begin = openForCycle,
    .pass = sendLine,
    .restart = closeUdpOutput,
    .finish = closeUdpOutput,
};
