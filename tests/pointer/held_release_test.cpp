#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "output/hand/air_mouse.h"
#include "output/desktop/pointer.h"
#include "output/hand/pointer_output.h"
#include "protocol/output_note.h"
#include "settings/settings.h"
#include "tests/support/recording_pointer.h"

// Whatever the bridge presses, every end lets go of: driven through the air
// mouse's output as the worker drives it, on a pointer that records.
namespace {

std::vector<std::string> notes;

void keepNote(const char* source, NoteLevel, const char* text) {
    notes.push_back(std::string(source) + ": " + text);
}

std::chrono::steady_clock::time_point at(int ms) {
    return std::chrono::steady_clock::time_point(std::chrono::milliseconds(ms));
}

void pass(int ms, const std::string& states, bool accepted) {
    static const MotionOutput ahead{{0, 0, 0}, {0, 0, 0, 1}};
    ButtonState b{};
    for (int k = 0; k < buttonCount; ++k)
        b.button[k] = states[k] - '0';
    LinePass p;
    p.accepted = accepted;
    p.received = at(ms);
    p.mouseOutput = &ahead;
    p.buttons = &b;
    pointerOutput.pass(p);
}

// The script: "T:bbbbb" a sample at T ms, "xT" a refused line, "T1-T2:bbbbb"
// a sample every 20 ms, or an end (restart, begin, finish, lapse). The
// result: the button and key events, each end in brackets where it came, and
// whether anything was still down at the close.
std::string run(const char* script) {
    clearPointerCalls();
    pointerOutput.prepare();
    pointerOutput.begin();
    std::istringstream steps(script);
    std::string step, seen;
    int recorded = 0;
    const auto collect = [&] {
        PointerCall calls[recordedPointerCapacity];
        const int n = copyPointerCalls(calls, recordedPointerCapacity);
        for (int i = recorded; i < n; ++i) {
            const PointerCall& c = calls[i];
            std::string e;
            if (c.kind == PointerCall::key)
                e = std::string(keyName(static_cast<KeyId>(c.x))) + (c.y ? "+" : "-");
            if (c.kind == PointerCall::event) {
                constexpr const char* names[] = {"", "L+", "L-", "R+", "R-", "M+", "M-"};
                for (int bit = 1; bit <= 6; ++bit)
                    if (c.flags & (1u << bit)) e = names[bit];
                if (c.flags & mouseEventWheel) e = "W";
            }
            if (!e.empty()) seen += (seen.empty() ? "" : " ") + e;
        }
        recorded = n;
    };
    while (steps >> step) {
        if (step == "restart" || step == "begin" || step == "finish" || step == "lapse") {
            if (step == "restart") pointerOutput.restart();
            if (step == "begin") pointerOutput.begin();
            if (step == "finish") pointerOutput.finish();
            if (step == "lapse" && pointerOutput.holding()) pointerOutput.lapse();
            seen += (seen.empty() ? "[" : " [") + step + "]";
            collect();
            continue;
        }
        if (step[0] == 'x') {
            pass(std::stoi(step.substr(1)), "00000", false);
        } else {
            const size_t colon = step.find(':'), dash = step.find('-');
            const int from = std::stoi(step.substr(0, dash < colon ? dash : colon));
            const int to = dash < colon ? std::stoi(step.substr(dash + 1)) : from;
            for (int ms = from; ms <= to; ms += 20)
                pass(ms, step.substr(colon + 1), true);
        }
        collect();
    }
    // Every down the desktop got has had its up.
    PointerCall calls[recordedPointerCapacity];
    const int n = copyPointerCalls(calls, recordedPointerCapacity);
    int down[8] = {}, keys = 0;
    for (int i = 0; i < n; ++i) {
        if (calls[i].kind == PointerCall::key) keys += calls[i].y ? 1 : -1;
        for (int bit = 1; bit <= 6; ++bit)
            if (calls[i].kind == PointerCall::event && (calls[i].flags & (1u << bit)))
                down[(bit + 1) / 2] = bit % 2;
    }
    if (keys != 0 || down[1] || down[2] || down[3]) seen += " STILL DOWN";
    return seen;
}

struct Case {
    const char* name;
    int32_t mouseEnabled;
    const char* button0;
    const char* button1;
    DwellClick dwell;
    const char* script;
    const char* expected;
    int letGoNotes = 0;
};

TEST(HeldRelease, EveryEndLetsGoOfWhatTheBridgePressed) {
    const Case cases[] = {
        // The default air mouse: a restart lets go, and a button still held
        // goes down afresh with the next cycle's first sample.
        {"default, restart", 1, "", "", DwellClick::off,
         "0:00000 20:10000 restart begin 40:10000 60:00000 finish",
         "L+ [restart] L- [begin] L+ L- [finish]"},
        {"default, stop (Run, OK, Exit, a signal)", 1, "", "", DwellClick::off,
         "0:01001 finish finish", "R+ M+ [finish] R- M- [finish]"},
        // A quiet client: let go, and the held button acts again only once
        // it has been let go and pressed anew.
        {"default, lapse", 1, "", "", DwellClick::off,
         "0:01001 lapse 20:01001 40:00000 60:01000 finish", "R+ M+ [lapse] R- M- R+ [finish] R-",
         1},
        {"default, a second without a sample", 1, "", "", DwellClick::off,
         "0:10000 1500:10000 1520:00000 1540:10000 finish", "L+ L- L+ [finish] L-", 1},
        {"default, a second of refused lines", 1, "", "", DwellClick::off,
         "0:10000 x500 x1200 1220:10000 finish", "L+ L- [finish]", 1},
        {"nothing held, nothing said", 1, "", "", DwellClick::off,
         "0:00000 lapse 1500:00000 finish", "[lapse] [finish]"},
        {"mapped mouse button, stop", 1, "LeftButton", "", DwellClick::off,
         "0:00000 20:10000 finish", "L+ [finish] L-"},
        {"mapped mouse button, lapse", 1, "LeftButton", "", DwellClick::off,
         "0:00000 20:10000 lapse 40:10000 60-120:00000 140:10000 finish",
         "L+ [lapse] L- L+ [finish] L-", 1},
        {"dwell drag, restart", 1, "", "", DwellClick::drag, "0-1700:00000 restart",
         "L+ [restart] L-"},
        // Button lines act with the air mouse off: a presenter without a pointer.
        {"key without the air mouse", 0, "", "PageDown", DwellClick::off,
         "0:00000 20:01000 40:00000 finish", "PageDown+ PageDown- [finish]"},
    };
    setNoteListener(keepNote);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setDefaults();
        settings.mouseEnabled = c.mouseEnabled;
        settings.dwellClick = c.dwell;
        screenWidth = 1920;
        screenHeight = 1080;
        setButtonLine(0, c.button0);
        setButtonLine(1, c.button1);
        notes.clear();
        EXPECT_EQ(run(c.script), c.expected);
        int said = 0;
        for (const std::string& note : notes)
            said += note.find("no fresh sample") != std::string::npos;
        EXPECT_EQ(said, c.letGoNotes);
    }
    EXPECT_TRUE(pointerOutput.readsUnasked()); // a mapped key reads with the air mouse off
    setButtonLine(0, "");
    setButtonLine(1, "");
    setNoteListener(nullptr);
}

} // namespace
