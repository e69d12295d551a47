#include "output/overlay/overlay_paint.h"

#include <algorithm>
#include <cmath>

namespace {

int64_t areaOf(const OverlayRect& r) {
    return int64_t{r.width} * r.height;
}

bool isEmpty(const OverlayRect& r) {
    return r.width <= 0 || r.height <= 0;
}

bool overlaps(const OverlayRect& a, const OverlayRect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

OverlayRect boundingBox(const OverlayRect& a, const OverlayRect& b) {
    int32_t left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    int32_t right = std::max(a.x + a.width, b.x + b.width);
    int32_t bottom = std::max(a.y + a.height, b.y + b.height);
    return {left, top, right - left, bottom - top};
}

OverlayRect clipTo(const OverlayRect& r, const OverlayRect& area) {
    int32_t left = std::max(r.x, area.x), top = std::max(r.y, area.y);
    int32_t right = std::min(r.x + r.width, area.x + area.width);
    int32_t bottom = std::min(r.y + r.height, area.y + area.height);
    if (right <= left || bottom <= top) return {};
    return {left, top, right - left, bottom - top};
}

// A square around a point, `reach` pixels to each side of its pixel.
OverlayRect around(int32_t x, int32_t y, int32_t reach) {
    return {x - reach, y - reach, 2 * reach + 1, 2 * reach + 1};
}

float clamp01(float v) {
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

uint32_t scalePixel(uint32_t p, float f) {
    if (f >= 1.0f) return p;
    if (f <= 0.0f) return 0;
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        auto channel = static_cast<float>((p >> shift) & 0xffu);
        out |= static_cast<uint32_t>(channel * f + 0.5f) << shift;
    }
    return out;
}

// `over` covering `under` by the fraction c (both premultiplied).
uint32_t mixPixel(uint32_t over, uint32_t under, float c) {
    if (c >= 1.0f) return over;
    if (c <= 0.0f) return under;
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        auto a = static_cast<float>((over >> shift) & 0xffu);
        auto b = static_cast<float>((under >> shift) & 0xffu);
        out |= static_cast<uint32_t>(a * c + b * (1.0f - c) + 0.5f) << shift;
    }
    return out;
}

uint32_t opaque(uint32_t rgb) {
    return 0xff000000u | (rgb & 0xffffffu);
}

bool sameLook(const OverlayLook& a, const OverlayLook& b) {
    return a.style == b.style && a.radius == b.radius && a.dimPercent == b.dimPercent &&
           a.color == b.color && a.trailMs == b.trailMs && a.zoom == b.zoom && a.blend == b.blend;
}

// A still frame with no trail to fade paints exactly what is there.
bool sameFrame(const OverlayScene& a, const OverlayScene& b) {
    return sameLook(a.look, b.look) && a.x == b.x && a.y == b.y && a.trailCount == 0 &&
           b.trailCount == 0 && a.picture == b.picture && a.pictureVersion == b.pictureVersion;
}

// The trail's segments that have not faded yet: from each point to the next,
// the last one to where the device points now.
struct Segment {
    float x0, y0, x1, y1, alpha;
};

std::vector<Segment> trailSegments(const OverlayScene& scene) {
    std::vector<Segment> segments;
    if (scene.look.trailMs <= 0 || scene.trail == nullptr) return segments;
    for (size_t i = 0; i < scene.trailCount; ++i) {
        const OverlayTrailPoint& from = scene.trail[i];
        float age = static_cast<float>(scene.nowMs - from.ms);
        float alpha = 1.0f - age / static_cast<float>(scene.look.trailMs);
        if (alpha <= 0.0f) continue;
        float toX = static_cast<float>(scene.x), toY = static_cast<float>(scene.y);
        if (i + 1 < scene.trailCount) {
            toX = static_cast<float>(scene.trail[i + 1].x);
            toY = static_cast<float>(scene.trail[i + 1].y);
        }
        segments.push_back({static_cast<float>(from.x), static_cast<float>(from.y), toX, toY,
                            std::min(alpha, 1.0f)});
    }
    return segments;
}

float distanceToSegment(float px, float py, const Segment& s) {
    float dx = s.x1 - s.x0, dy = s.y1 - s.y0;
    float length2 = dx * dx + dy * dy;
    float t = length2 > 0.0f ? clamp01(((px - s.x0) * dx + (py - s.y0) * dy) / length2) : 0.0f;
    float ex = px - (s.x0 + t * dx), ey = py - (s.y0 + t * dy);
    return std::sqrt(ex * ex + ey * ey);
}

struct Painter {
    const OverlayScene& scene;
    uint32_t base;
    uint32_t rim;
    std::vector<Segment> segments;
    int32_t dot;
    float shrink; // 1 / the magnifier's zoom

    // The spotlight: a clear circle, the rim just outside it, the base beyond.
    // The magnifier: the enlarged picture inside, the same rim, the base beyond.
    uint32_t circlePixel(int32_t px, int32_t py) const {
        const OverlayLook& look = scene.look;
        int32_t dx = px - scene.x, dy = py - scene.y;
        int64_t d2 = int64_t{dx} * dx + int64_t{dy} * dy;
        float r = static_cast<float>(look.radius);
        float inner = r - 0.5f, outer = r + static_cast<float>(overlayRimWidth) + 0.5f;
        bool lens = look.style == OverlayStyle::magnifier;
        if (static_cast<float>(d2) >= outer * outer) return base;
        if (static_cast<float>(d2) <= inner * inner) return lens ? lensPixel(dx, dy) : 0u;
        float d = std::sqrt(static_cast<float>(d2));
        uint32_t under = lens ? mixPixel(lensPixel(dx, dy), base, clamp01(r + 0.5f - d))
                              : scalePixel(base, clamp01(d - r + 0.5f));
        float ring = clamp01(0.5f + std::min(d - r, r + static_cast<float>(overlayRimWidth) - d));
        return mixPixel(rim, under, ring);
    }

    uint32_t lensPixel(int32_t dx, int32_t dy) const {
        const OverlayImage* picture = scene.picture;
        if (picture == nullptr) return 0xff202020u;
        int32_t sx = scene.x + static_cast<int32_t>(std::floor(static_cast<float>(dx) * shrink));
        int32_t sy = scene.y + static_cast<int32_t>(std::floor(static_cast<float>(dy) * shrink));
        const OverlayRect& a = picture->area;
        if (sx < a.x || sy < a.y || sx >= a.x + a.width || sy >= a.y + a.height) return 0xff202020u;
        size_t at = static_cast<size_t>(sy - a.y) * static_cast<size_t>(a.width) +
                    static_cast<size_t>(sx - a.x);
        return at < picture->pixels.size() ? 0xff000000u | picture->pixels[at] : 0xff202020u;
    }

    // The laser: the dot and its trail, each pixel as strong as the
    // strongest mark over it (overlapping segments do not add up). Each mark
    // is visited only over its own box, so a long trail costs its length.
    void paintLaser(OverlayImage& image, const OverlayRect& rect) const {
        const OverlayRect& area = image.area;
        auto at = [&](int32_t x, int32_t y) -> uint32_t& {
            return image.pixels[static_cast<size_t>(y - area.y) * area.width + (x - area.x)];
        };
        for (int32_t y = rect.y; y < rect.y + rect.height; ++y)
            for (int32_t x = rect.x; x < rect.x + rect.width; ++x)
                at(x, y) = base;
        float reach = static_cast<float>(dot) + 0.5f;
        auto mark = [&](const Segment& s) {
            OverlayRect box = clipTo(segmentBox(s), rect);
            for (int32_t y = box.y; y < box.y + box.height; ++y) {
                for (int32_t x = box.x; x < box.x + box.width; ++x) {
                    float c =
                        s.alpha * clamp01(reach - distanceToSegment(static_cast<float>(x),
                                                                    static_cast<float>(y), s));
                    if (c <= 0.0f) continue;
                    uint32_t p = mixPixel(rim, base, c);
                    if ((p >> 24) > (at(x, y) >> 24)) at(x, y) = p;
                }
            }
        };
        for (const Segment& s : segments)
            mark(s);
        auto x = static_cast<float>(scene.x), y = static_cast<float>(scene.y);
        mark({x, y, x, y, 1.0f});
    }

    OverlayRect segmentBox(const Segment& s) const {
        auto left = static_cast<int32_t>(std::floor(std::min(s.x0, s.x1))) - dot - 1;
        auto top = static_cast<int32_t>(std::floor(std::min(s.y0, s.y1))) - dot - 1;
        auto right = static_cast<int32_t>(std::ceil(std::max(s.x0, s.x1))) + dot + 2;
        auto bottom = static_cast<int32_t>(std::ceil(std::max(s.y0, s.y1))) + dot + 2;
        return {left, top, right - left, bottom - top};
    }

    void paint(OverlayImage& image, const OverlayRect& rect) const {
        if (scene.look.style == OverlayStyle::laser) {
            paintLaser(image, rect);
            return;
        }
        const OverlayRect& area = image.area;
        for (int32_t y = rect.y; y < rect.y + rect.height; ++y) {
            uint32_t* row = image.pixels.data() + static_cast<size_t>(y - area.y) * area.width +
                            (rect.x - area.x);
            for (int32_t x = rect.x; x < rect.x + rect.width; ++x)
                *row++ = circlePixel(x, y);
        }
    }

    std::vector<OverlayRect> marks() const {
        std::vector<OverlayRect> out;
        if (scene.look.style != OverlayStyle::laser) {
            out.push_back(around(scene.x, scene.y, scene.look.radius + overlayRimWidth + 1));
            return out;
        }
        out.push_back(around(scene.x, scene.y, dot + 1));
        for (const Segment& s : segments)
            out.push_back(segmentBox(s));
        return out;
    }
};

} // namespace

int32_t laserDotRadius(const OverlayLook& look) {
    return std::max(6, look.radius / 10);
}

uint32_t dimPixel(int32_t percent) {
    int32_t p = std::clamp(percent, 0, 100);
    return static_cast<uint32_t>((p * 255 + 50) / 100) << 24;
}

void resetCanvas(OverlayCanvas& canvas, const OverlayRect& area) {
    canvas.image.area = area;
    size_t size = isEmpty(area) ? 0 : static_cast<size_t>(area.width) * area.height;
    canvas.image.pixels.assign(size, 0);
    canvas.marks.clear();
    canvas.base = 0;
    canvas.painted = false;
    canvas.last = {};
}

void mergeRects(std::vector<OverlayRect>& rects) {
    std::erase_if(rects, isEmpty);
    auto mergeOne = [&rects] {
        for (size_t i = 0; i < rects.size(); ++i) {
            for (size_t j = i + 1; j < rects.size(); ++j) {
                OverlayRect box = boundingBox(rects[i], rects[j]);
                if (overlaps(rects[i], rects[j]) ||
                    areaOf(box) <= areaOf(rects[i]) + areaOf(rects[j])) {
                    rects[i] = box;
                    rects.erase(rects.begin() + static_cast<ptrdiff_t>(j));
                    return true;
                }
            }
        }
        return false;
    };
    while (mergeOne()) {
    }
}

std::vector<OverlayRect> paintOverlay(OverlayCanvas& canvas, const OverlayScene& scene) {
    const OverlayLook& look = scene.look;
    const OverlayRect area = canvas.image.area;
    if (isEmpty(area)) return {};
    uint32_t base =
        look.blend && look.style == OverlayStyle::spotlight ? dimPixel(look.dimPercent) : 0u;
    bool whole = !canvas.painted || base != canvas.base;
    if (!whole && sameFrame(canvas.last, scene)) return {};

    float shrink = 1.0f / std::max(look.zoom, 1.0f);
    Painter painter{scene, base, opaque(look.color), trailSegments(scene), laserDotRadius(look),
                    shrink};
    std::vector<OverlayRect> marks;
    for (const OverlayRect& r : painter.marks()) {
        OverlayRect clipped = clipTo(r, area);
        if (!isEmpty(clipped)) marks.push_back(clipped);
    }
    mergeRects(marks);

    std::vector<OverlayRect> changed;
    if (whole) {
        std::fill(canvas.image.pixels.begin(), canvas.image.pixels.end(), base);
        for (const OverlayRect& r : marks)
            painter.paint(canvas.image, r);
        changed.push_back(area);
    } else {
        changed = canvas.marks;
        changed.insert(changed.end(), marks.begin(), marks.end());
        mergeRects(changed);
        for (const OverlayRect& r : changed)
            painter.paint(canvas.image, r);
    }
    canvas.marks = std::move(marks);
    canvas.base = base;
    canvas.painted = true;
    canvas.last = scene;
    return changed;
}
