#include "output/pointer/pointer_output.h"

#include "output/pointer/air_mouse.h"
#include "settings/settings.h"

namespace {

bool mouseOn() {
    return settings.mouseEnabled.load() != 0;
}

OutputOutcome driveMouse(const LinePass& pass) {
    if (!pass.accepted || !mouseOn()) return {};
    updateCursor(*pass.mouseOutput);
    injectButtons(*pass.buttons);
    return {};
}

} // namespace

const LineOutput pointerOutput = {
    .prepare = computeScreenDistancePixels,
    .readsUnasked = mouseOn,
    .begin = resetPreviousButtons,
    .pass = driveMouse,
};
