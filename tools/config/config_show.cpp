#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "output/desktop/pointer.h"
#include "output/desktop/screen_choice.h"
#include "settings/settings.h"
#include "settings/settings_table.h"
#include "tools/config/config.h"
#include "tools/config/console_text.h"

namespace {

// The monitors by the numbers mouseScreen takes, as the pointer finds them;
// nothing where no display can be reached.
void showMonitors() {
    MonitorList monitors{};
    if (!listMonitors(&monitors) || monitors.count <= 0) return;
    std::printf("\nMonitors (mouseScreen=N takes one, mouseScreen=all spans them):\n");
    for (int i = 0; i < monitors.count && i < maxMonitors; ++i) {
        char rect[64];
        TextBuilder out(rect, sizeof rect);
        appendScreenRect(out, monitors.monitor[i]);
        std::printf("  %-2d %s%s\n", i + 1, rect, i == monitors.primary ? "  (primary)" : "");
    }
    if (monitors.unlisted > 0)
        std::printf("  and %d more, which mouseScreen cannot take (it takes 1 to %d)\n",
                    monitors.unlisted, maxMonitors);
}

} // namespace

int showSettings(const char* path, char** names, int nameCount) {
    std::vector<int> chosen;
    for (int n = 0; n < nameCount; ++n) {
        const int index = findSetting(names[n], std::strlen(names[n]));
        if (index < 0) return unknownSettingError(names[n]);
        chosen.push_back(index);
    }
    std::string firstLine;
    const FileState state = readSettingsForTool(path, &firstLine);
    if (state == FileState::unreadable) return 1;

    if (nameCount > 0) {
        for (int index : chosen)
            std::printf("%s\n", shownValue(index).c_str());
        return 0;
    }

    if (state == FileState::missing)
        std::fprintf(stderr, "%s: %s does not exist; these are the defaults the programs use\n",
                     configProgram, path);
    else
        noteFileOddities(path, firstLine, false);
    // The eleven always; the keyed settings when they are set (--help lists them all).
    std::vector<int> rows;
    size_t width = 0;
    for (int i = 0; i < settingsRowCount; ++i) {
        if (isKeyedSetting(i) && settingAtDefault(i)) continue;
        rows.push_back(i);
        width = std::max(width, shownValue(i).size());
    }
    // The meanings broken for an 80-column console, under their own column.
    const int meaningColumn = 19 + 1 + static_cast<int>(width) + 2;
    for (int i : rows) {
        char meaning[200];
        TextBuilder out(meaning, sizeof meaning);
        settingsTable[i].describe(out);
        std::printf("%-19s %-*s  ", settingsTable[i].name, static_cast<int>(width),
                    shownValue(i).c_str());
        writeWrapped(stdout, meaning, meaningColumn, meaningColumn);
    }
    showMonitors();
    return 0;
}
