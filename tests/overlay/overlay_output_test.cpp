// The overlay's drawing thread over windows that record what they are asked:
// it follows the point while held or toggled, repaints for a compositor that
// goes away, and ends cleanly from every state.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "output/overlay/overlay_output.h"

namespace {

// What the windows were asked, shared with the test (the opener is a plain
// function, called on the drawing thread).
struct Record {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    bool canDraw = true;
    bool canBlend = true;
    int shows = 0;
    int hides = 0;
    bool lastWasHide = false;
    OverlayImage screen; // what area 0 shows, kept whole
} record;

const OverlayRect area{-200, 0, 800, 600};

class RecordingWindows : public OverlayWindows {
  public:
    RecordingWindows() {
        update([](Record& r) { r.open = true; });
    }
    ~RecordingWindows() override {
        update([](Record& r) { r.open = false; });
    }
    std::vector<OverlayRect> areas() override { return {area}; }
    OverlayAbilities abilities() override {
        std::lock_guard<std::mutex> guard(record.lock);
        return {record.canDraw, record.canBlend, 200};
    }
    void show(size_t index, const OverlayImage& image,
              const std::vector<OverlayRect>& changed) override {
        EXPECT_EQ(index, 0u);
        EXPECT_FALSE(changed.empty());
        update([&](Record& r) {
            ++r.shows;
            r.lastWasHide = false;
            r.screen = image;
        });
    }
    void hide() override {
        update([](Record& r) {
            ++r.hides;
            r.lastWasHide = true;
        });
    }
    bool grab(const OverlayRect&, OverlayImage*) override { return false; }

  private:
    static void update(const std::function<void(Record&)>& change) {
        {
            std::lock_guard<std::mutex> guard(record.lock);
            change(record);
        }
        record.changed.notify_all();
    }
};

std::unique_ptr<OverlayWindows> openRecording() {
    return std::make_unique<RecordingWindows>();
}

void resetRecord(bool canDraw = true, bool canBlend = true) {
    std::lock_guard<std::mutex> guard(record.lock);
    record.canDraw = canDraw;
    record.canBlend = canBlend;
    record.shows = record.hides = 0;
    record.lastWasHide = false;
    record.screen = {};
}

// Waits (at most 10 s) until the record satisfies `done`.
bool await(const std::function<bool(const Record&)>& done) {
    std::unique_lock<std::mutex> lock(record.lock);
    return record.changed.wait_for(lock, std::chrono::seconds(10), [&] { return done(record); });
}

uint32_t shownAt(const Record& r, int32_t x, int32_t y) {
    const OverlayRect& a = r.screen.area;
    if (r.screen.pixels.empty() || x < a.x || y < a.y || x >= a.x + a.width || y >= a.y + a.height)
        return 0xdeadbeef;
    return r.screen.pixels[static_cast<size_t>(y - a.y) * a.width + (x - a.x)];
}

const uint32_t dimmed = 0x99000000; // 60 %

TEST(OverlayOutput, FollowsThePointWhileShown) {
    resetRecord();
    overlayPoint(100, 100);
    setOverlayWindowsOpener(openRecording);
    startOverlay(OverlayLook{});
    overlayHold(true);
    EXPECT_TRUE(await([](const Record& r) {
        return shownAt(r, 100, 100) == 0 && shownAt(r, 500, 500) == dimmed;
    }));
    overlayPoint(450, 480);
    EXPECT_TRUE(await([](const Record& r) {
        return shownAt(r, 450, 480) == 0 && shownAt(r, 100, 100) == dimmed;
    }));
    overlayHold(false);
    EXPECT_TRUE(await([](const Record& r) { return r.lastWasHide; }));
    EXPECT_FALSE(overlayShown());

    // A long press toggles it on until the next; holding meanwhile changes nothing.
    overlayToggle();
    EXPECT_TRUE(await([](const Record& r) { return !r.lastWasHide && r.shows > 0; }));
    overlayHold(true);
    overlayHold(false);
    EXPECT_TRUE(overlayShown());
    // The compositor goes away: the dimming goes, the ring stays.
    {
        std::lock_guard<std::mutex> guard(record.lock);
        record.canBlend = false;
    }
    EXPECT_TRUE(await([](const Record& r) {
        return shownAt(r, 100, 100) == 0 && shownAt(r, 450 + 122, 480) == 0xffff2020u;
    }));
    overlayToggle();
    EXPECT_TRUE(await([](const Record& r) { return r.lastWasHide; }));
    stopOverlay();
    EXPECT_FALSE(record.open);
}

TEST(OverlayOutput, StopsCleanlyFromEveryState) {
    struct Case {
        const char* what;
        bool canDraw;
        std::function<void()> enter;
        bool showing;
    } cases[] = {
        {"never pressed", true, [] {}, false},
        {"held", true, [] { overlayHold(true); }, true},
        {"toggled", true, [] { overlayToggle(); }, true},
        {"held, then the device lost", true,
         [] {
             overlayHold(true);
             overlayForget();
         },
         false},
        {"held where nothing can be drawn", false, [] { overlayHold(true); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        resetRecord(c.canDraw);
        setOverlayWindowsOpener(openRecording);
        startOverlay(OverlayLook{});
        c.enter();
        EXPECT_TRUE(await([](const Record& r) { return r.open; }));
        if (c.showing) {
            EXPECT_TRUE(await([](const Record& r) { return r.shows > 0; }));
        }
        stopOverlay();
        std::lock_guard<std::mutex> guard(record.lock);
        EXPECT_FALSE(record.open) << "the windows were not closed";
        EXPECT_FALSE(overlayShown());
        if (record.shows > 0) {
            EXPECT_TRUE(record.lastWasHide) << "left on the screen";
        }
        if (!c.canDraw) {
            EXPECT_EQ(record.shows, 0);
        }
    }
    stopOverlay(); // a second stop does nothing
}

} // namespace
