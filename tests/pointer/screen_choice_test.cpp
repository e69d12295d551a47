// Which screen the air mouse spans: the choice over a list of monitors, and
// the air mouse's output taking it at a worker's start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/hand/air_mouse.h"
#include "output/desktop/pointer.h"
#include "output/hand/pointer_output.h"
#include "output/desktop/screen_choice.h"
#include "protocol/output_note.h"
#include "settings/settings.h"
#include "tests/support/recording_pointer.h"

namespace {

// A laptop (primary, 1920x1080 at 0,0) with a projector left of it and a
// monitor above it, in Windows' virtual-screen coordinates; the desktop
// given as the system reports it, or left for the box.
MonitorList desk(bool withDesktop, int primary = 1) {
    MonitorList m{};
    m.monitor[0] = {-1280, 56, 1280, 1024};
    m.monitor[1] = {0, 0, 1920, 1080};
    m.monitor[2] = {320, -900, 1600, 900};
    m.count = 3;
    m.primary = primary;
    if (withDesktop) m.desktop = {-1280, -900, 3200, 1980};
    return m;
}

TEST(ScreenChoice, PicksFromTheMonitors) {
    struct Case {
        const char* what;
        MonitorList monitors;
        int32_t which;
        ScreenRect rect;
        int number;
        bool missing;
    } cases[] = {
        {"primary", desk(true), mouseScreenPrimary, {0, 0, 1920, 1080}, 2, false},
        {"all: the desktop given", desk(true), mouseScreenAll, {-1280, -900, 3200, 1980}, 0, false},
        {"all: the box around them",
         desk(false),
         mouseScreenAll,
         {-1280, -900, 3200, 1980},
         0,
         false},
        {"the one on the left", desk(true), 1, {-1280, 56, 1280, 1024}, 1, false},
        {"the one above", desk(true), 3, {320, -900, 1600, 900}, 3, false},
        {"gone: the primary one", desk(true), 4, {0, 0, 1920, 1080}, 2, true},
        {"beyond the list", desk(true), mouseScreenMax, {0, 0, 1920, 1080}, 2, true},
        {"no primary: the desktop",
         desk(true, -1),
         mouseScreenPrimary,
         {-1280, -900, 3200, 1980},
         0,
         false},
        {"no primary, gone", desk(false, -1), 7, {-1280, -900, 3200, 1980}, 0, true},
        {"primary on the right",
         [] {
             MonitorList m{};
             m.monitor[0] = {-2560, 0, 2560, 1440};
             m.monitor[1] = {0, 0, 1920, 1080};
             m.count = 2;
             m.primary = 1;
             return m;
         }(),
         mouseScreenAll,
         {-2560, 0, 4480, 1440},
         0,
         false},
        {"nothing listed",
         MonitorList{{}, 0, -1, {0, 0, 1920, 1080}},
         2,
         {0, 0, 1920, 1080},
         0,
         true},
    };
    for (const Case& c : cases) {
        const ScreenPick pick = chooseScreen(c.monitors, c.which);
        EXPECT_EQ(pick.rect.x, c.rect.x) << c.what;
        EXPECT_EQ(pick.rect.y, c.rect.y) << c.what;
        EXPECT_EQ(pick.rect.width, c.rect.width) << c.what;
        EXPECT_EQ(pick.rect.height, c.rect.height) << c.what;
        EXPECT_EQ(pick.number, c.number) << c.what;
        EXPECT_EQ(pick.missing, c.missing) << c.what;
    }
}

std::vector<std::string> notes;
void keepNote(const char*, NoteLevel, const char* text) {
    notes.emplace_back(text);
}

// Where the air mouse puts the cursor when the device points straight ahead.
PointerCall placedAhead() {
    clearPointerCalls();
    updateCursor(MotionOutput{{0, 0, 0}, {0, 0, 0, 1}});
    PointerCall call{};
    EXPECT_EQ(copyPointerCalls(&call, 1), 1);
    return call;
}

// At a worker's start the output takes the chosen monitor: the cursor's
// middle lands in it, a monitor gone gives the primary one with a note, and
// where no monitors are known nothing changes and nothing is said.
TEST(ScreenChoice, TheOutputTakesItAtAWorkersStart) {
    setDefaults();
    settings.mouseEnabled = 1;
    screenWidth = 1920;
    screenHeight = 1080;
    notes.clear();
    setNoteListener(keepNote);

    setRecordedMonitors(nullptr);
    pointerOutput.prepare();
    EXPECT_EQ(placedAhead().x, 960);
    EXPECT_TRUE(notes.empty());

    const MonitorList monitors = desk(true);
    setRecordedMonitors(&monitors);
    struct Case {
        int32_t which;
        int32_t x, y, width;
        bool problem;
    } cases[] = {
        {mouseScreenPrimary, 960, 540, 1920, false},
        {1, -1280 + 640, 56 + 512, 1280, false},
        {3, 320 + 800, -900 + 450, 1600, false},
        {mouseScreenAll, -1280 + 1600, -900 + 990, 3200, false},
        {9, 960, 540, 1920, true},
    };
    for (const Case& c : cases) {
        notes.clear();
        settings.mouseScreen = c.which;
        pointerOutput.prepare();
        const PointerCall placed = placedAhead();
        EXPECT_EQ(placed.x, c.x) << c.which;
        EXPECT_EQ(placed.y, c.y) << c.which;
        EXPECT_EQ(screenWidth.load(), c.width) << c.which;
        ASSERT_EQ(notes.size(), 1u) << c.which;
        EXPECT_EQ(notes[0].find("air mouse: monitor 9 is not there") == 0, c.problem) << notes[0];
        EXPECT_NE(notes[0].find("monitors: 1 1280x1024 at -1280,56, 2 1920x1080 at 0,0 "
                                "(primary), 3 1600x900 at 320,-900"),
                  std::string::npos)
            << notes[0];
    }

    // Unknown monitors and a monitor asked for: said, the screen kept.
    setRecordedMonitors(nullptr);
    notes.clear();
    settings.mouseScreen = 2;
    pointerOutput.prepare();
    EXPECT_EQ(placedAhead().x, 960);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].find("air mouse: mouseScreen cannot choose here"), 0u) << notes[0];
    setNoteListener(nullptr);
}

} // namespace

// The list in the notes names every monitor it holds, and says where it
// stops when the system has more than mouseScreen can take.
TEST(ScreenChoice, TheListSaysWhereItStops) {
    MonitorList more = desk(true);
    more.unlisted = 3;
    for (const auto& [monitors, shown] :
         {std::pair{desk(true), std::string("1 1280x1024 at -1280,56, 2 1920x1080 at 0,0 "
                                            "(primary), 3 1600x900 at 320,-900")},
          std::pair{more, std::string("1 1280x1024 at -1280,56, 2 1920x1080 at 0,0 (primary), "
                                      "3 1600x900 at 320,-900, and 3 more (mouseScreen takes 1 "
                                      "to 16)")}}) {
        char text[400];
        TextBuilder out(text, sizeof text);
        appendMonitors(out, monitors);
        EXPECT_EQ(std::string(text), shown);
    }
}
