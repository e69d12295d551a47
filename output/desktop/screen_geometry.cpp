#include "output/desktop/screen_geometry.h"

#include <algorithm>

namespace {

// An output's size in logical pixels; false when it has none.
bool logicalSize(const OutputGeometry& o, int64_t* w, int64_t* h) {
    if (o.modeWidth <= 0 || o.modeHeight <= 0) return false;
    const int64_t scale = o.scale > 0 ? o.scale : 1;
    // Transforms 1, 3, 5 and 7 turn the panel by a quarter.
    const bool turned = (o.transform & 1) != 0;
    *w = (turned ? o.modeHeight : o.modeWidth) / scale;
    *h = (turned ? o.modeWidth : o.modeHeight) / scale;
    return *w > 0 && *h > 0;
}

// The box's top left corner and size; false when no output has a size.
bool desktopBox(const OutputGeometry* outputs, int count, int64_t* boxLeft, int64_t* boxTop,
                int32_t* width, int32_t* height) {
    int64_t left = 0, top = 0, right = 0, bottom = 0;
    bool any = false;
    for (int i = 0; i < count; ++i) {
        const OutputGeometry& o = outputs[i];
        int64_t w = 0, h = 0;
        if (!logicalSize(o, &w, &h)) continue;
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
    *boxLeft = left;
    *boxTop = top;
    *width = static_cast<int32_t>(right - left);
    *height = static_cast<int32_t>(bottom - top);
    return true;
}

} // namespace

bool desktopExtent(const OutputGeometry* outputs, int count, int32_t* width, int32_t* height) {
    int64_t left = 0, top = 0;
    return desktopBox(outputs, count, &left, &top, width, height);
}

bool desktopMonitors(const OutputGeometry* outputs, int count, MonitorList* monitors) {
    *monitors = MonitorList{};
    monitors->primary = -1;
    int64_t left = 0, top = 0;
    int32_t width = 0, height = 0;
    if (!desktopBox(outputs, count, &left, &top, &width, &height)) return false;
    monitors->desktop = ScreenRect{0, 0, width, height};
    for (int i = 0; i < count && monitors->count < maxMonitors; ++i) {
        int64_t w = 0, h = 0;
        if (!logicalSize(outputs[i], &w, &h)) continue;
        monitors->monitor[monitors->count++] = ScreenRect{
            static_cast<int32_t>(outputs[i].x - left), static_cast<int32_t>(outputs[i].y - top),
            static_cast<int32_t>(w), static_cast<int32_t>(h)};
    }
    return true;
}
