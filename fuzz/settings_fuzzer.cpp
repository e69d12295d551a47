#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "motion/averaging.h"
#include "settings/settings.h"

// Any file content through the settings reader, and the averaging lengths it
// yields through a window push. What the writer makes of it must read back
// to the same file: a second write that differs would lose or shift a setting.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (file == nullptr) return 0;
    setDefaults();
    readSettingsStream(file);
    std::fclose(file);
    Sample s{{0, 0, 0, 0, 0, 0, 1}};
    pushSample(mouseWindow, s, settings.mouseAveraging);
    pushSample(lanWindow, s, settings.lanAveraging);

    // An infinite distance is written as "inf", which reads as no number:
    // the dialog forces it into range before any write.
    if (!std::isfinite(settings.screenDistance.load())) return 0;
    static char first[settingsTextSize];
    static char second[settingsTextSize];
    const int length = formatSettingsText(first, sizeof first);
    if (length < 0) return 0;
    FILE* again = fmemopen(first, static_cast<size_t>(length), "r");
    if (again == nullptr) return 0;
    setDefaults();
    readSettingsStream(again);
    std::fclose(again);
    if (formatSettingsText(second, sizeof second) != length || std::strcmp(first, second) != 0)
        std::abort();
    return 0;
}
