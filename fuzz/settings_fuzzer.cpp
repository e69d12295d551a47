#include <cstdint>
#include <cstdio>

#include "motion/averaging.h"
#include "settings/settings.h"

// Any file content through the settings reader, and the averaging lengths it
// yields through a window push.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (file == nullptr) return 0;
    setDefaults();
    readSettingsStream(file);
    std::fclose(file);
    Sample s{{0, 0, 0, 0, 0, 0, 1}};
    pushSample(mouseWindow, s, settings.mouseAveraging);
    pushSample(lanWindow, s, settings.lanAveraging);
    return 0;
}
