#include "output/desktop/screen_choice.h"

#include <algorithm>

namespace {

bool hasArea(const ScreenRect& r) {
    return r.width > 0 && r.height > 0;
}

// The box around every monitor with an area; negative places included.
ScreenRect boxAround(const MonitorList& monitors) {
    int64_t left = 0, top = 0, right = 0, bottom = 0;
    bool any = false;
    for (int i = 0; i < monitors.count && i < maxMonitors; ++i) {
        const ScreenRect& m = monitors.monitor[i];
        if (!hasArea(m)) continue;
        const int64_t r = static_cast<int64_t>(m.x) + m.width;
        const int64_t b = static_cast<int64_t>(m.y) + m.height;
        left = any ? std::min<int64_t>(left, m.x) : m.x;
        top = any ? std::min<int64_t>(top, m.y) : m.y;
        right = any ? std::max(right, r) : r;
        bottom = any ? std::max(bottom, b) : b;
        any = true;
    }
    if (!any || right - left > INT32_MAX || bottom - top > INT32_MAX) return ScreenRect{0, 0, 0, 0};
    return ScreenRect{static_cast<int32_t>(left), static_cast<int32_t>(top),
                      static_cast<int32_t>(right - left), static_cast<int32_t>(bottom - top)};
}

ScreenRect desktopOf(const MonitorList& monitors) {
    return hasArea(monitors.desktop) ? monitors.desktop : boxAround(monitors);
}

} // namespace

ScreenPick chooseScreen(const MonitorList& monitors, int32_t which) {
    const int count = std::min(monitors.count, maxMonitors);
    if (which == mouseScreenAll) return ScreenPick{desktopOf(monitors), 0, false};
    const bool asked = which >= 1;
    if (asked && which <= count && hasArea(monitors.monitor[which - 1]))
        return ScreenPick{monitors.monitor[which - 1], which, false};
    const int p = monitors.primary;
    if (p >= 0 && p < count && hasArea(monitors.monitor[p]))
        return ScreenPick{monitors.monitor[p], p + 1, asked};
    return ScreenPick{desktopOf(monitors), 0, asked};
}

void appendScreenRect(TextBuilder& out, const ScreenRect& rect) {
    out.appendInteger(rect.width);
    out.append("x");
    out.appendInteger(rect.height);
    out.append(" at ");
    out.appendInteger(rect.x);
    out.append(",");
    out.appendInteger(rect.y);
}

void appendMonitors(TextBuilder& out, const MonitorList& monitors) {
    if (monitors.count <= 0) out.append("none listed");
    for (int i = 0; i < monitors.count && i < maxMonitors; ++i) {
        if (i > 0) out.append(", ");
        out.appendInteger(i + 1);
        out.append(" ");
        appendScreenRect(out, monitors.monitor[i]);
        if (i == monitors.primary) out.append(" (primary)");
    }
    if (monitors.unlisted > 0) {
        out.append(", and ");
        out.appendInteger(monitors.unlisted);
        out.append(" more (mouseScreen takes 1 to ");
        out.appendInteger(maxMonitors);
        out.append(")");
    }
}
