// check and set: whether the monitor mouseScreen names is present now. The
// bridge takes the primary one in its place, so this is a warning only.
#include <cstdio>

#include "output/desktop/pointer.h"
#include "output/desktop/screen_choice.h"
#include "settings/settings.h"
#include "text/number_text.h"
#include "tools/config/config.h"
#include "tools/config/config_check.h"
#include "tools/config/console_text.h"

namespace {

// "mouseScreen=3, but only 2 monitors are present now ...", or nothing when
// mouseScreen names no number or the monitors cannot be listed here.
bool describeAbsentMonitor(TextBuilder& text, int* present) {
    const int32_t which = settings.mouseScreen.load();
    if (which < 1) return false;
    MonitorList monitors{};
    if (!listMonitors(&monitors) || monitors.count <= 0) return false;
    *present = monitors.count;
    if (which <= monitors.count) return false;
    text.append("mouseScreen=");
    text.appendInteger(which);
    text.append(monitors.count == 1 ? ", but only 1 monitor is present now" : ", but only ");
    if (monitors.count > 1) {
        text.appendInteger(monitors.count);
        text.append(" monitors are present now");
    }
    text.append(" (`tolvane-config show` lists them): until monitor ");
    text.appendInteger(which);
    text.append(" is there when the measurement starts, the air mouse takes the primary one");
    return true;
}

} // namespace

void checkMouseScreen() {
    char data[512];
    TextBuilder text{data, sizeof data};
    text.append("air mouse: ");
    int present = 0;
    if (describeAbsentMonitor(text, &present)) writeWrapped(stdout, data, 0, 4);
}

void noteMouseScreenAfterSet() {
    char data[512];
    TextBuilder text{data, sizeof data};
    text.append(configProgram);
    text.append(": note: ");
    int present = 0;
    if (describeAbsentMonitor(text, &present)) writeWrapped(stderr, data, 0, 4);
}
