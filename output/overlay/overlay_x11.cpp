// The overlay on X11: one override-redirect window over the screen, 32-bit
// ARGB where a compositor blends it, with an empty input shape so that every
// click goes through to what is below. Without a compositor an ARGB window
// would show black where it is clear, so then only the opaque pixels are
// shown, cut out with the Shape extension.

#include <xcb/randr.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "output/overlay/overlay_backends.h"
#include "protocol/output_note.h"

namespace {

// Each note once a process, however often a new worker opens the windows.
std::atomic<bool> saidNoDisplay{false}, saidNoShape{false}, saidNoCompositor{false};

xcb_visualtype_t* findArgbVisual(const xcb_screen_t* screen) {
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem;
         xcb_depth_next(&depths)) {
        if (depths.data->depth != 32) continue;
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
             xcb_visualtype_next(&visuals))
            if (visuals.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR) return visuals.data;
    }
    return nullptr;
}

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

// The fastest refresh among the lit monitors; 60 where none says.
int readRefreshRate(xcb_connection_t* c, xcb_window_t root) {
    int best = 0;
    xcb_randr_get_screen_resources_current_reply_t* res =
        xcb_randr_get_screen_resources_current_reply(
            c, xcb_randr_get_screen_resources_current(c, root), nullptr);
    if (res == nullptr) return 60;
    const xcb_randr_crtc_t* crtcs = xcb_randr_get_screen_resources_current_crtcs(res);
    const xcb_randr_mode_info_t* modes = xcb_randr_get_screen_resources_current_modes(res);
    int modeCount = xcb_randr_get_screen_resources_current_modes_length(res);
    for (int i = 0; i < xcb_randr_get_screen_resources_current_crtcs_length(res); ++i) {
        xcb_randr_get_crtc_info_reply_t* crtc = xcb_randr_get_crtc_info_reply(
            c, xcb_randr_get_crtc_info(c, crtcs[i], res->config_timestamp), nullptr);
        if (crtc == nullptr) continue;
        for (int m = 0; m < modeCount; ++m) {
            const xcb_randr_mode_info_t& mode = modes[m];
            if (mode.id != crtc->mode || mode.htotal == 0 || mode.vtotal == 0) continue;
            double rate = static_cast<double>(mode.dot_clock) / mode.htotal / mode.vtotal;
            best = std::max(best, static_cast<int>(rate + 0.5));
        }
        std::free(crtc);
    }
    std::free(res);
    return best >= 20 && best <= 500 ? best : 60;
}

class X11Overlay : public OverlayWindows {
  public:
    X11Overlay() {
        int screenNumber = 0;
        conn = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(conn) != 0) {
            if (!saidNoDisplay.exchange(true))
                sayNote("overlay", NoteLevel::problem,
                        "cannot open the X display, so the overlay is not drawn (is DISPLAY set?)");
            return;
        }
        auto roots = xcb_setup_roots_iterator(xcb_get_setup(conn));
        for (int i = 0; i < screenNumber && roots.rem; ++i)
            xcb_screen_next(&roots);
        if (roots.rem == 0) return;
        screen = roots.data;
        char name[32];
        std::snprintf(name, sizeof name, "_NET_WM_CM_S%d", screenNumber);
        compositorAtom = internAtom(conn, name);
        uint32_t requestWords = xcb_get_maximum_request_length(conn);
        maxRequestBytes = std::max<size_t>(size_t{requestWords} * 4, 65536) - 4096;
        lsbFirst = xcb_get_setup(conn)->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
        framesPerSecond = readRefreshRate(conn, screen->root);
        createWindow();
    }

    ~X11Overlay() override {
        if (conn == nullptr) return;
        if (window != 0) {
            xcb_destroy_window(conn, window);
            // The server drops what it has not read when a client leaves: one
            // round trip makes sure the window is gone before we do.
            std::free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
        }
        xcb_disconnect(conn);
    }

    std::vector<OverlayRect> areas() override {
        if (window == 0) return {};
        return {{0, 0, screen->width_in_pixels, screen->height_in_pixels}};
    }

    OverlayAbilities abilities() override {
        if (window == 0 || xcb_connection_has_error(conn) != 0) return {};
        repaintExposed();
        bool composited = false;
        if (argb && compositorAtom != XCB_ATOM_NONE) {
            xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
                conn, xcb_get_selection_owner(conn, compositorAtom), nullptr);
            composited = owner != nullptr && owner->owner != XCB_WINDOW_NONE;
            std::free(owner);
        }
        if (!composited && !saidNoCompositor.exchange(true)) {
            sayNote("overlay", NoteLevel::info,
                    "no compositor is running: the overlay shows a plain ring or dot; dimming "
                    "needs a compositor");
        }
        blending = composited;
        return {true, composited, framesPerSecond};
    }

    void show(size_t index, const OverlayImage& image,
              const std::vector<OverlayRect>& changed) override {
        if (window == 0 || index != 0) return;
        // Mapped first: what is drawn into an unmapped window is lost.
        if (!mapped) {
            xcb_map_window(conn, window);
            const uint32_t above = XCB_STACK_MODE_ABOVE;
            xcb_configure_window(conn, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
            mapped = true;
        }
        if (mirror.area.width != image.area.width || mirror.area.height != image.area.height)
            mirror = image;
        for (const OverlayRect& r : changed) {
            copyRect(image, r);
            putRect(mirror, r);
        }
        if (blending != shapedFor) {
            if (blending) {
                // Blended: the whole window shows; alpha does the cutting.
                xcb_shape_mask(conn, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, window, 0, 0,
                               XCB_PIXMAP_NONE);
            } else {
                rowRuns.assign(static_cast<size_t>(image.area.height), {});
                shapeRows(image, image.area);
            }
            shapedFor = blending;
        } else if (!blending) {
            for (const OverlayRect& r : changed)
                shapeRows(image, r);
        }
        if (!blending) setBoundingShape();
        xcb_flush(conn);
    }

    void hide() override {
        if (window == 0 || !mapped) return;
        xcb_unmap_window(conn, window);
        mapped = false;
        shapedFor = -1;
        std::free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
    }

    bool grab(const OverlayRect& area, OverlayImage* out) override {
        // Shown, the root holds our own pixels too: keep the picture we have.
        if (window == 0 || mapped || area.width <= 0 || area.height <= 0) return false;
        int32_t left = std::max(area.x, 0), top = std::max(area.y, 0);
        int32_t right = std::min(area.x + area.width, int32_t{screen->width_in_pixels});
        int32_t bottom = std::min(area.y + area.height, int32_t{screen->height_in_pixels});
        out->area = area;
        out->pixels.assign(static_cast<size_t>(area.width) * area.height, 0xff000000u);
        if (right <= left || bottom <= top) return true;
        xcb_get_image_reply_t* reply = xcb_get_image_reply(
            conn,
            xcb_get_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, static_cast<int16_t>(left),
                          static_cast<int16_t>(top), static_cast<uint16_t>(right - left),
                          static_cast<uint16_t>(bottom - top), ~0u),
            nullptr);
        if (reply == nullptr) return false;
        const uint8_t* data = xcb_get_image_data(reply);
        size_t bytes = static_cast<size_t>(xcb_get_image_data_length(reply));
        size_t width = static_cast<size_t>(right - left);
        bool ok = reply->depth >= 24 && bytes >= width * 4 * static_cast<size_t>(bottom - top);
        for (int32_t y = top; ok && y < bottom; ++y) {
            for (int32_t x = left; x < right; ++x) {
                const uint8_t* p = data + (static_cast<size_t>(y - top) * width + (x - left)) * 4;
                uint32_t rgb = lsbFirst ? uint32_t{p[2]} << 16 | p[1] << 8 | p[0]
                                        : uint32_t{p[1]} << 16 | p[2] << 8 | p[3];
                out->pixels[static_cast<size_t>(y - area.y) * area.width + (x - area.x)] =
                    0xff000000u | rgb;
            }
        }
        std::free(reply);
        return ok;
    }

  private:
    // Without backing store the server forgets what another window covered
    // for a moment: it is put again from the copy of what was shown. Other
    // events (errors) are dropped.
    void repaintExposed() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(conn)) {
            if ((event->response_type & 0x7f) == XCB_EXPOSE && mapped && !mirror.pixels.empty()) {
                auto* expose = reinterpret_cast<xcb_expose_event_t*>(event);
                OverlayRect r{mirror.area.x + expose->x, mirror.area.y + expose->y, expose->width,
                              expose->height};
                r.width = std::min(r.width, mirror.area.x + mirror.area.width - r.x);
                r.height = std::min(r.height, mirror.area.y + mirror.area.height - r.y);
                if (r.width > 0 && r.height > 0) putRect(mirror, r);
            }
            std::free(event);
        }
        xcb_flush(conn);
    }

    void copyRect(const OverlayImage& image, const OverlayRect& r) {
        const OverlayRect& a = image.area;
        for (int32_t y = r.y; y < r.y + r.height; ++y) {
            size_t at = static_cast<size_t>(y - a.y) * a.width + (r.x - a.x);
            std::copy_n(image.pixels.begin() + static_cast<ptrdiff_t>(at), r.width,
                        mirror.pixels.begin() + static_cast<ptrdiff_t>(at));
        }
    }

    void createWindow() {
        if (!xcb_get_extension_data(conn, &xcb_shape_id)->present) {
            if (!saidNoShape.exchange(true))
                sayNote("overlay", NoteLevel::problem,
                        "the X server lacks the Shape extension, so the overlay is not drawn");
            return;
        }
        xcb_visualtype_t* visual = findArgbVisual(screen);
        argb = visual != nullptr;
        depth = argb ? 32 : screen->root_depth;
        xcb_visualid_t visualId = argb ? visual->visual_id : screen->root_visual;
        xcb_colormap_t colormap = xcb_generate_id(conn);
        xcb_create_colormap(conn, XCB_COLORMAP_ALLOC_NONE, colormap, screen->root, visualId);
        window = xcb_generate_id(conn);
        const uint32_t values[] = {0, 0, 1, XCB_EVENT_MASK_EXPOSURE, colormap};
        xcb_create_window(conn, depth, window, screen->root, 0, 0, screen->width_in_pixels,
                          screen->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, visualId,
                          XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT |
                              XCB_CW_EVENT_MASK | XCB_CW_COLORMAP,
                          values);
        xcb_free_colormap(conn, colormap);
        // No input anywhere: clicks reach the windows below.
        xcb_shape_rectangles(conn, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                             window, 0, 0, 0, nullptr);
        // Nothing shows until the first frame says what.
        xcb_shape_rectangles(conn, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
                             XCB_CLIP_ORDERING_UNSORTED, window, 0, 0, 0, nullptr);
        // A window over the whole screen looks full-screen: ask compositors
        // to keep compositing rather than show it unblended.
        xcb_atom_t bypass = internAtom(conn, "_NET_WM_BYPASS_COMPOSITOR");
        const uint32_t keepCompositing = 2;
        if (bypass != XCB_ATOM_NONE)
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, window, bypass, XCB_ATOM_CARDINAL, 32,
                                1, &keepCompositing);
        static const char title[] = "tolvane overlay";
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING,
                            8, sizeof title - 1, title);
        gc = xcb_generate_id(conn);
        xcb_create_gc(conn, gc, window, 0, nullptr);
        xcb_flush(conn);
    }

    // Puts one rectangle of the image, in strips that fit one request.
    void putRect(const OverlayImage& image, const OverlayRect& r) {
        const OverlayRect& a = image.area;
        size_t rowBytes = static_cast<size_t>(r.width) * 4;
        int32_t rowsPerPut = static_cast<int32_t>(std::max<size_t>(1, maxRequestBytes / rowBytes));
        for (int32_t y = r.y; y < r.y + r.height; y += rowsPerPut) {
            int32_t rows = std::min(rowsPerPut, r.y + r.height - y);
            strip.resize(static_cast<size_t>(r.width) * rows);
            for (int32_t i = 0; i < rows; ++i) {
                const uint32_t* from =
                    image.pixels.data() + static_cast<size_t>(y + i - a.y) * a.width + (r.x - a.x);
                uint32_t* to = strip.data() + static_cast<size_t>(i) * r.width;
                for (int32_t x = 0; x < r.width; ++x)
                    to[x] = lsbFirst ? from[x] : __builtin_bswap32(from[x]);
            }
            xcb_put_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc,
                          static_cast<uint16_t>(r.width), static_cast<uint16_t>(rows),
                          static_cast<int16_t>(r.x - a.x), static_cast<int16_t>(y - a.y), 0, depth,
                          static_cast<uint32_t>(rowBytes * rows),
                          reinterpret_cast<const uint8_t*>(strip.data()));
        }
    }

    // Unblended, a pixel shows when it is at least half opaque: the runs of
    // such pixels per row, kept so that a frame recounts only its rows.
    void shapeRows(const OverlayImage& image, const OverlayRect& r) {
        const OverlayRect& a = image.area;
        for (int32_t y = r.y; y < r.y + r.height; ++y) {
            std::vector<xcb_rectangle_t>& runs = rowRuns[static_cast<size_t>(y - a.y)];
            runs.clear();
            const uint32_t* row = image.pixels.data() + static_cast<size_t>(y - a.y) * a.width;
            for (int32_t x = 0; x < a.width;) {
                if ((row[x] >> 24) < 128) {
                    ++x;
                    continue;
                }
                int32_t start = x;
                while (x < a.width && (row[x] >> 24) >= 128)
                    ++x;
                runs.push_back({static_cast<int16_t>(start), static_cast<int16_t>(y - a.y),
                                static_cast<uint16_t>(x - start), 1});
            }
        }
    }

    void setBoundingShape() {
        shape.clear();
        for (const auto& runs : rowRuns)
            shape.insert(shape.end(), runs.begin(), runs.end());
        xcb_shape_rectangles(conn, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
                             XCB_CLIP_ORDERING_YX_SORTED, window, 0, 0,
                             static_cast<uint32_t>(shape.size()), shape.data());
    }

    xcb_connection_t* conn = nullptr;
    xcb_screen_t* screen = nullptr;
    xcb_window_t window = 0;
    xcb_gcontext_t gc = 0;
    xcb_atom_t compositorAtom = XCB_ATOM_NONE;
    uint8_t depth = 24;
    bool argb = false;
    bool lsbFirst = true;
    bool mapped = false;
    bool blending = false;
    int shapedFor = -1; // the blending the shape was last set for; -1: none yet
    int framesPerSecond = 60;
    size_t maxRequestBytes = 65536;
    std::vector<uint32_t> strip;
    OverlayImage mirror; // what the window shows
    std::vector<std::vector<xcb_rectangle_t>> rowRuns;
    std::vector<xcb_rectangle_t> shape;
};

} // namespace

std::unique_ptr<OverlayWindows> openX11OverlayWindows() {
    return std::make_unique<X11Overlay>();
}
