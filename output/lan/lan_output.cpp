#include "output/lan/lan_output.h"

#include "output/lan/lan_server.h"

namespace {

OutputOutcome replyToClient(const LinePass& pass) {
    // A rejected line gets no reply; the client's next request comes as usual.
    if (!pass.requested || !pass.accepted) return {};
    if (sendMotionOutput(*pass.lanOutput, *pass.buttons) == ReplyOutcome::failed)
        return {true, WorkerEventKind::socketWriteFailed};
    return {};
}

void closeSockets() {
    closeClientSocket();
    closeListenSocket();
}

} // namespace

const LineOutput lanOutput = {
    .pass = replyToClient,
    .restart = closeSockets,
    .stop = closeSockets,
};
