#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/hand/air_mouse.h"
#include "output/hand/button_map.h"
#include "output/hand/mouse_feel.h"
#include "output/desktop/pointer.h"
#include "output/hand/pointer_output.h"
#include "output/hand/press_kinds.h"
#include "protocol/output_note.h"
#include "settings/settings.h"
#include "tests/support/recording_pointer.h"

namespace {

// A script of samples: "t:bbbbb" with t in ms, or "reset" (a new cycle).
// The result: one "t:button:kind" per decision, kind press, long, double,
// press+ (an immediate press going down) or end (it came up).
std::string classify(const PressRules rules[buttonCount], const std::vector<std::string>& script) {
    PressKinds kinds;
    resetPressKinds(kinds);
    // A button held at a cycle's first sample waits for its release: every
    // script starts released.
    PressEvent none[buttonCount];
    classifyPresses(kinds, ButtonState{}, -0.01, rules, none);
    std::string seen;
    for (const std::string& step : script) {
        if (step == "reset") {
            resetPressKinds(kinds);
            continue;
        }
        const size_t colon = step.find(':');
        const int ms = std::stoi(step.substr(0, colon));
        ButtonState b{};
        for (int k = 0; k < buttonCount; ++k)
            b.button[k] = step[colon + 1 + k] - '0';
        PressEvent events[buttonCount];
        classifyPresses(kinds, b, ms / 1000.0, rules, events);
        for (int k = 0; k < buttonCount; ++k) {
            const std::string at = std::to_string(ms) + ":" + std::to_string(k) + ":";
            if (events[k].decided)
                seen += at + pressKindName(events[k].kind) + (events[k].begins ? "+ " : " ");
            if (events[k].ends) seen += at + "end ";
        }
    }
    return seen;
}

// Samples every 10 ms from `from` to `to` (exclusive) with the given states.
void span(std::vector<std::string>& s, int from, int to, const char* states) {
    for (int t = from; t < to; t += 10)
        s.push_back(std::to_string(t) + ":" + states);
}

TEST(PressKinds, ShortLongDoubleBounceOverlapRestartAndTimeBackward) {
    struct Case {
        const char* name;
        bool usesLong[2], usesDouble[2];
        std::vector<std::pair<int, const char*>> spans; // until ms, states
        std::vector<std::string> extra;                 // raw steps after the spans
        const char* expected;
    };
    const Case cases[] = {
        {"immediate press goes down at once, ends after three released samples",
         {false, false},
         {false, false},
         {{50, "10000"}, {120, "00000"}},
         {},
         "0:0:press+ 70:0:end "},
        {"with a long action a short press is decided at its release",
         {true, false},
         {false, false},
         {{200, "10000"}, {300, "00000"}},
         {},
         "220:0:press "},
        {"held past the threshold is long, once; the release adds nothing",
         {true, false},
         {false, false},
         {{900, "10000"}, {1000, "00000"}},
         {},
         "500:0:long "},
        {"a second press within the window is double",
         {false, false},
         {true, false},
         {{50, "10000"}, {150, "00000"}, {200, "10000"}, {800, "00000"}},
         {},
         "150:0:double "},
        {"a single press waits for the window to pass",
         {false, false},
         {true, false},
         {{50, "10000"}, {500, "00000"}},
         {},
         "360:0:press "},
        {"a release of two samples is bounce",
         {false, false},
         {false, false},
         {{50, "10000"}, {70, "00000"}, {120, "10000"}, {200, "00000"}},
         {},
         "0:0:press+ 140:0:end "},
        {"a release of three samples is not",
         {false, false},
         {false, false},
         {{50, "10000"}, {80, "00000"}, {120, "10000"}, {200, "00000"}},
         {},
         "0:0:press+ 70:0:end 80:0:press+ 140:0:end "},
        {"overlapping buttons are decided each on its own",
         {false, true},
         {false, false},
         {{50, "10000"}, {100, "11000"}, {700, "01000"}, {800, "00000"}},
         {},
         "0:0:press+ 120:0:end 550:1:long "},
        {"a press held across a restart counts only after its release",
         {true, false},
         {false, false},
         {{300, "10000"}},
         {"reset", "1000:10000", "1600:10000", "1700:00000", "1710:00000", "1720:00000",
          "1800:10000", "1810:00000", "1820:00000", "1830:00000"},
         "1830:0:press "},
        {"time that runs backward stands still",
         {true, false},
         {true, false},
         {{50, "10000"}, {100, "00000"}},
         {"0:10000", "10:00000", "20:00000", "30:00000", "40:10000", "300:10000", "700:10000"},
         "0:0:double 700:0:long "},
    };
    for (const Case& c : cases) {
        PressRules rules[buttonCount];
        for (int k = 0; k < 2; ++k) {
            rules[k].usesLong = c.usesLong[k];
            rules[k].usesDouble = c.usesDouble[k];
        }
        std::vector<std::string> script;
        int from = 0;
        for (const auto& [until, states] : c.spans) {
            span(script, from, until, states);
            from = until;
        }
        script.insert(script.end(), c.extra.begin(), c.extra.end());
        EXPECT_EQ(classify(rules, script), c.expected) << c.name;
    }
}

std::vector<std::string> notes;
void keepNote(const char* source, NoteLevel, const char* text) {
    notes.push_back(std::string(source) + ": " + text);
}

// What the map sent for one sample: "Shift+ F5+ F5- Shift-", "m2" and "m4"
// for mouse flags, "w120" for the wheel.
std::string drive(ButtonMap& map, const char* states, double seconds, ButtonState* forMouse,
                  BridgeRequests* requests) {
    ButtonState b{};
    for (int k = 0; k < buttonCount; ++k)
        b.button[k] = states[k] - '0';
    clearPointerCalls();
    driveButtonMap(map, b, seconds, forMouse, requests);
    PointerCall calls[32];
    const int n = copyPointerCalls(calls, 32);
    std::string sent;
    for (int i = 0; i < n && i < 32; ++i) {
        if (!sent.empty()) sent += " ";
        if (calls[i].kind == PointerCall::key)
            sent += std::string(keyName(static_cast<KeyId>(calls[i].x))) + (calls[i].y ? "+" : "-");
        else if (calls[i].flags == mouseEventWheel)
            sent += "w" + std::to_string(calls[i].wheelData);
        else
            sent += "m" + std::to_string(calls[i].flags & ~mouseEventAbsolute);
    }
    return sent;
}

TEST(ButtonMap, ChordsClicksBridgeActionsAndRefusedKeys) {
    setDefaults();
    setNoteListener(keepNote);
    notes.clear();
    const char* lines[buttonCount] = {"PageDown", "press:Shift+F5 long:Ctrl+Alt+Delete",
                                      "double:Recenter", "", "LeftButton long:WheelDown"};
    ButtonActions actions[buttonCount];
    char reason[400];
    for (int k = 0; k < buttonCount; ++k) {
        TextBuilder why(reason, sizeof reason);
        ASSERT_TRUE(parseButtonActions(lines[k], &actions[k], why)) << lines[k] << reason;
    }
    ButtonMap map;
    setButtonMap(map, actions, 500, 300);
    ButtonState mouse;
    BridgeRequests asked;
    drive(map, "00000", -0.01, &mouse, &asked); // held at a cycle's start waits for a release

    // The keys tap at once; the air mouse never sees a mapped button, but
    // still the unmapped wheel button 3.
    EXPECT_EQ(drive(map, "10010", 0.00, &mouse, &asked), "PageDown+ PageDown-");
    EXPECT_EQ(mouse.button[0], 0);
    EXPECT_EQ(mouse.button[3], 1);
    // A chord: modifiers first, released in reverse.
    drive(map, "01000", 0.01, &mouse, &asked);
    for (double t = 0.02; t < 0.05; t += 0.01)
        drive(map, "00000", t, &mouse, &asked);
    EXPECT_EQ(drive(map, "00000", 0.05, &mouse, &asked), "");
    EXPECT_EQ(drive(map, "01000", 0.10, &mouse, &asked), "");
    EXPECT_EQ(drive(map, "01000", 0.61, &mouse, &asked), "Ctrl+ Alt+ Delete+ Delete- Alt- Ctrl-");
    // Button 4 with a long action: a click at its release, not a hold.
    drive(map, "00001", 1.00, &mouse, &asked);
    drive(map, "00000", 1.01, &mouse, &asked);
    drive(map, "00000", 1.02, &mouse, &asked);
    EXPECT_EQ(drive(map, "00000", 1.03, &mouse, &asked), "m2 m4");
    // A double press asks the air mouse to recenter.
    drive(map, "00100", 2.00, &mouse, &asked);
    for (double t = 2.01; t < 2.05; t += 0.01)
        drive(map, "00000", t, &mouse, &asked);
    drive(map, "00100", 2.10, &mouse, &asked);
    EXPECT_TRUE(asked.recenter);

    // An immediate mouse button is held while the button is, and released by
    // releaseButtonMap when the cycle ends.
    const char* drag[buttonCount] = {"LeftButton", "", "", "", ""};
    for (int k = 0; k < buttonCount; ++k) {
        TextBuilder why(reason, sizeof reason);
        parseButtonActions(drag[k], &actions[k], why);
    }
    setButtonMap(map, actions, 500, 300);
    drive(map, "00000", 2.99, &mouse, &asked);
    EXPECT_EQ(drive(map, "10000", 3.00, &mouse, &asked), "m2");
    EXPECT_EQ(drive(map, "10000", 3.50, &mouse, &asked), "");
    clearPointerCalls();
    releaseButtonMap(map);
    EXPECT_EQ(pointerCallCount(), 1);

    // A key the platform cannot send is said once, and nothing is left held.
    TextBuilder why(reason, sizeof reason);
    parseButtonActions("Super+L", &actions[0], why);
    setButtonMap(map, actions, 500, 300);
    setRefusedKey(static_cast<int>(KeyId::super));
    drive(map, "00000", 3.99, &mouse, &asked);
    EXPECT_EQ(drive(map, "10000", 4.00, &mouse, &asked), "L+ L-");
    for (double t = 4.01; t < 4.05; t += 0.01)
        drive(map, "00000", t, &mouse, &asked);
    drive(map, "10000", 4.10, &mouse, &asked);
    setRefusedKey(0);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0],
              "keys: the key Super cannot be sent here: its button's action does nothing");
    setNoteListener(nullptr);
}

// Through the air mouse's output: a mouse button the map holds is let go at a
// restart (and the same hook ends a worker), and the bridge's toggles stop
// and hold the cursor while the other buttons still act.
TEST(ButtonMap, OutputReleasesAtRestartAndTogglesTheCursor) {
    setDefaults();
    settings.mouseEnabled = 1;
    screenWidth = 1920;
    screenHeight = 1080;
    setButtonLine(0, "LeftButton");
    setButtonLine(1, "AirMouse");
    setButtonLine(4, "Clutch");
    pointerOutput.prepare();
    pointerOutput.begin();
    const MotionOutput ahead{{0, 0, 0}, {0, 0, 0, 1}};
    const auto at = [](double s) {
        return std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(s)));
    };
    // Each pass: whether the cursor was placed, and the button events.
    const auto pass = [&](const char* states, double s) {
        ButtonState b{};
        for (int k = 0; k < buttonCount; ++k)
            b.button[k] = states[k] - '0';
        LinePass p;
        p.accepted = true;
        p.received = at(s);
        p.mouseOutput = &ahead;
        p.buttons = &b;
        clearPointerCalls();
        pointerOutput.pass(p);
        PointerCall calls[16];
        const int n = copyPointerCalls(calls, 16);
        std::string seen;
        for (int i = 0; i < n && i < 16; ++i)
            seen += calls[i].kind == PointerCall::place ? "place " : "event ";
        return seen;
    };
    EXPECT_EQ(pass("00000", 0.00), "place ");
    EXPECT_EQ(pass("10000", 0.01), "place event ");
    clearPointerCalls();
    pointerOutput.restart();
    PointerCall up[4];
    ASSERT_EQ(copyPointerCalls(up, 4), 1);
    EXPECT_EQ(up[0].flags, mouseEventAbsolute | mouseEventLeftUp);

    pointerOutput.begin();
    EXPECT_EQ(pass("00000", 1.00), "place ");
    EXPECT_EQ(pass("01000", 1.01), "");       // pointing off
    EXPECT_EQ(pass("00100", 1.02), "event "); // the unmapped wheel still turns
    for (double s = 1.03; s < 1.07; s += 0.01)
        pass("00000", s);
    EXPECT_EQ(pass("01000", 1.10), "place "); // pointing on again
    EXPECT_EQ(pass("00001", 1.11), "");       // the clutch holds the cursor
    for (double s = 1.12; s < 1.16; s += 0.01)
        EXPECT_EQ(pass("00000", s), "");
    EXPECT_EQ(pass("00001", 1.20), "place "); // and lets it go
    pointerOutput.finish();
    for (int k = 0; k < buttonCount; ++k)
        setButtonLine(k, "");
}

// Precision mode is held by an immediate short press, from its press to its
// release, and toggled by another press kind; Dwell toggles the dwell click.
TEST(ButtonMap, PrecisionHoldsOrTogglesAndDwellToggles) {
    setDefaults();
    const char* lines[buttonCount] = {"Precision", "press:B long:Precision double:Dwell", "", "",
                                      ""};
    ButtonActions actions[buttonCount];
    char reason[400];
    for (int k = 0; k < buttonCount; ++k) {
        TextBuilder why(reason, sizeof reason);
        ASSERT_TRUE(parseButtonActions(lines[k], &actions[k], why)) << lines[k] << reason;
    }
    ButtonMap map;
    setButtonMap(map, actions, 500, 300);
    ButtonState mouse;
    // Per sample: "p" press, "r" release, "t" toggle of precision, "d" dwell.
    const auto asked = [&](const char* states, double seconds) {
        BridgeRequests r;
        EXPECT_EQ(drive(map, states, seconds, &mouse, &r), "") << seconds;
        return std::string(r.precisionPress ? "p" : "") + (r.precisionRelease ? "r" : "") +
               (r.precisionToggle ? "t" : "") + (r.dwellToggle ? "d" : "") +
               (r.recenter || r.clutchToggle || r.airMouseToggle ? "?" : "");
    };
    asked("00000", 0.00);
    EXPECT_EQ(asked("10000", 0.01), "p");
    EXPECT_EQ(asked("10000", 2.00), "");
    EXPECT_EQ(asked("00000", 2.01), "");
    EXPECT_EQ(asked("00000", 2.02), "");
    EXPECT_EQ(asked("00000", 2.03), "r");
    EXPECT_EQ(asked("01000", 3.00), "");
    EXPECT_EQ(asked("01000", 3.60), "t");
    for (double t = 3.61; t < 3.65; t += 0.01)
        EXPECT_EQ(asked("00000", t), "");
    asked("01000", 4.00);
    for (double t = 4.01; t < 4.05; t += 0.01)
        asked("00000", t);
    EXPECT_EQ(asked("01000", 4.10), "d");
    // A cycle's end forgets a held precision mode: no release follows.
    EXPECT_EQ(asked("10000", 5.00), "p");
    releaseButtonMap(map);
    for (double t = 5.01; t < 5.06; t += 0.01)
        EXPECT_EQ(asked("00000", t), "");
}

TEST(ButtonMap, GrammarReadsBackAndRefusesWithTheNames) {
    struct Case {
        const char* text;
        const char* shown; // nullptr: refused, with `why` in the reason
        const char* why;
    };
    const Case cases[] = {
        {"", "", nullptr},
        {"pagedown", "press:PageDown", nullptr},
        {"double:b LONG:shift+f5 press:PageDown", "press:PageDown long:Shift+F5 double:B", nullptr},
        {"press:Super+Ctrl+Period", "press:Ctrl+Super+Period", nullptr},
        {"press:Shift", "press:Shift", nullptr},
        {"long:Recenter double:AirMouse press:Clutch", "press:Clutch long:Recenter double:AirMouse",
         nullptr},
        {"precision LONG:dwell", "press:Precision long:Dwell", nullptr},
        {"press:PgDn", nullptr, "'PgDn' is no name the buttons know: keys A-Z"},
        {"press:F13", nullptr, "AirMouse, Precision, Dwell"},
        {"hold:B", nullptr, "'hold' is no press kind"},
        {"press:B press:C", nullptr, "'press' is given twice"},
        {"press:", nullptr, "'press:' has no action"},
        {"press:B+Shift", nullptr, "'B' comes before \"+\" but is no modifier"},
        {"press:Shift+Ctrl", nullptr, "ends in a modifier"},
        {"press:Shift+", nullptr, "'Shift+' ends in \"+\""},
        {"A+", nullptr, "'A+' ends in \"+\""},
        {"+A", nullptr, "'+A' begins with \"+\""},
        {"Ctrl++A", nullptr, "'Ctrl++A' has \"++\""},
    };
    for (const Case& c : cases) {
        ButtonActions actions;
        char reason[512];
        TextBuilder why(reason, sizeof reason);
        const bool ok = parseButtonActions(c.text, &actions, why);
        EXPECT_EQ(ok, c.shown != nullptr) << c.text << ": " << reason;
        if (ok) {
            char shown[buttonActionsSize];
            TextBuilder out(shown, sizeof shown);
            formatButtonActions(actions, out);
            EXPECT_STREQ(shown, c.shown) << c.text;
        } else {
            EXPECT_NE(std::string(reason).find(c.why), std::string::npos)
                << c.text << ": " << reason;
            EXPECT_FALSE(why.overflow) << c.text;
        }
    }
}

} // namespace
