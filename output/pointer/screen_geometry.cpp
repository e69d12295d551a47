#include "output/pointer/screen_geometry.h"

#include <algorithm>

bool desktopExtent(const OutputGeometry* outputs, int count, int32_t* width, int32_t* height) {
    int64_t left = 0, top = 0, right = 0, bottom = 0;
    bool any = false;
    for (int i = 0; i < count; ++i) {
        const OutputGeometry& o = outputs[i];
        if (o.modeWidth <= 0 || o.modeHeight <= 0) continue;
        const int64_t scale = o.scale > 0 ? o.scale : 1;
        // Transforms 1, 3, 5 and 7 turn the panel by a quarter.
        const bool turned = (o.transform & 1) != 0;
        const int64_t w = (turned ? o.modeHeight : o.modeWidth) / scale;
        const int64_t h = (turned ? o.modeWidth : o.modeHeight) / scale;
        if (w <= 0 || h <= 0) continue;
        if (!any) {
            left = o.x;
            top = o.y;
            right = o.x + w;
            bottom = o.y + h;
            any = true;
            continue;
        }
        left = std::min<int64_t>(left, o.x);
        top = std::min<int64_t>(top, o.y);
        right = std::max<int64_t>(right, o.x + w);
        bottom = std::max<int64_t>(bottom, o.y + h);
    }
    if (!any || right - left > INT32_MAX || bottom - top > INT32_MAX) return false;
    *width = static_cast<int32_t>(right - left);
    *height = static_cast<int32_t>(bottom - top);
    return true;
}
