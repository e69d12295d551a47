// Which key gives a key name's symbol on a layout, and what the backends hold
// while it is down: layouts compiled from Debian's xkb data, keys as evdev
// codes (xkbcommon counts them from 8).
#include <gtest/gtest.h>

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <string>
#include <vector>

#include "output/desktop/key_layout.h"

namespace {

struct Layout {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    xkb_keymap* keymap = nullptr;
    explicit Layout(const char* names) {
        xkb_rule_names rules{};
        rules.layout = names;
        keymap = xkb_keymap_new_from_names(context, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    ~Layout() {
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
    }
};

struct Case {
    const char* layout;
    KeyId key;
    unsigned code;                      // 0: no key gives it
    std::vector<xkb_keysym_t> modifier; // what the keys held around it are
};

std::vector<std::string> sent;
void record(uint16_t code, bool down) {
    sent.push_back((down ? "+" : "-") + std::to_string(code - 8));
}

} // namespace

TEST(KeyLayout, EachNameIsTheKeyThatGivesItsSymbolOnTheLayout) {
    const Case cases[] = {
        {"us", KeyId::a, KEY_A, {}},
        {"us", KeyId::period, KEY_DOT, {}},
        {"us", KeyId::pageDown, KEY_PAGEDOWN, {}},
        {"us", KeyId::shift, KEY_LEFTSHIFT, {}},
        {"fr", KeyId::a, KEY_Q, {}},
        {"fr", KeyId::q, KEY_A, {}},
        {"fr", KeyId::z, KEY_W, {}},
        {"fr", KeyId::m, KEY_SEMICOLON, {}},
        {"fr", KeyId::comma, KEY_M, {}},
        {"fr", KeyId::period, KEY_COMMA, {XKB_KEY_Shift_L}},
        {"fr", KeyId::digit1, KEY_1, {XKB_KEY_Shift_L}},
        {"fr", KeyId::b, KEY_B, {}},
        {"fr", KeyId::f5, KEY_F5, {}},
        {"de", KeyId::y, KEY_Z, {}},
        {"de", KeyId::z, KEY_Y, {}},
        {"de", KeyId::period, KEY_DOT, {}},
        {"de", KeyId::comma, KEY_COMMA, {}},
        {"de", KeyId::escape, KEY_ESC, {}},
        // Digits behind AltGr.
        {"lt", KeyId::digit1, KEY_1, {XKB_KEY_ISO_Level3_Shift}},
        // No Latin letter on a Cyrillic layout alone; beside a Latin one, its key.
        {"ru", KeyId::b, 0, {}},
        {"ru,us", KeyId::b, KEY_B, {}},
        {"ru", KeyId::period, KEY_SLASH, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.layout) + " " + keyName(c.key));
        Layout layout(c.layout);
        ASSERT_NE(layout.keymap, nullptr);
        KeyStroke stroke;
        const bool found = findKeyStroke(layout.keymap, 0, keySymbol(c.key), &stroke);
        EXPECT_EQ(found, c.code != 0);
        if (!found) continue;
        EXPECT_EQ(stroke.key, c.code + 8);
        std::vector<xkb_keysym_t> modifiers;
        for (int m = 0; m < stroke.modifierCount; ++m) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(layout.keymap, stroke.modifier[m], 0, 0, &syms) ==
                1)
                modifiers.push_back(syms[0]);
        }
        EXPECT_EQ(modifiers, c.modifier);
    }
}

TEST(KeyLayout, AReleaseLetsGoOfWhatItsPressTookAndAShiftHeldTwiceGoesDownOnce) {
    Layout fr("fr");
    Layout de("de");
    ASSERT_NE(fr.keymap, nullptr);
    ASSERT_NE(de.keymap, nullptr);
    HeldKeys held;
    KeyStroke shift, period, y;
    ASSERT_TRUE(findKeyStroke(fr.keymap, 0, keySymbol(KeyId::shift), &shift));
    ASSERT_TRUE(findKeyStroke(fr.keymap, 0, keySymbol(KeyId::period), &period));
    ASSERT_TRUE(findKeyStroke(fr.keymap, 0, keySymbol(KeyId::y), &y));
    sent.clear();
    // Shift+Period on AZERTY, a Y pressed under AZERTY and let go under
    // QWERTZ, and a Y pressed again while down.
    EXPECT_TRUE(pressStroke(held, KeyId::shift, shift, record));
    EXPECT_TRUE(pressStroke(held, KeyId::period, period, record));
    EXPECT_TRUE(pressStroke(held, KeyId::y, y, record));
    EXPECT_TRUE(pressStroke(held, KeyId::y, y, record));
    ASSERT_TRUE(findKeyStroke(de.keymap, 0, keySymbol(KeyId::y), &y));
    EXPECT_TRUE(releaseStroke(held, KeyId::y, record));
    EXPECT_TRUE(releaseStroke(held, KeyId::y, record));
    EXPECT_TRUE(releaseStroke(held, KeyId::period, record));
    EXPECT_TRUE(releaseStroke(held, KeyId::shift, record));
    EXPECT_FALSE(releaseStroke(held, KeyId::shift, record));
    const std::vector<std::string> expected = {
        "+" + std::to_string(KEY_LEFTSHIFT), "+" + std::to_string(KEY_COMMA),
        "+" + std::to_string(KEY_Y),         "-" + std::to_string(KEY_Y),
        "-" + std::to_string(KEY_COMMA),     "-" + std::to_string(KEY_LEFTSHIFT),
    };
    EXPECT_EQ(sent, expected);
}
