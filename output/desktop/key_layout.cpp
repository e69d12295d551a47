#include "output/desktop/key_layout.h"

#include <xkbcommon/xkbcommon-keysyms.h>

namespace {

// By KeyId (from KeyId::a on).
constexpr xkb_keysym_t keysyms[keyIdCount - 1] = {
    // clang-format off
    XKB_KEY_a, XKB_KEY_b, XKB_KEY_c, XKB_KEY_d, XKB_KEY_e, XKB_KEY_f, XKB_KEY_g, XKB_KEY_h,
    XKB_KEY_i, XKB_KEY_j, XKB_KEY_k, XKB_KEY_l, XKB_KEY_m, XKB_KEY_n, XKB_KEY_o, XKB_KEY_p,
    XKB_KEY_q, XKB_KEY_r, XKB_KEY_s, XKB_KEY_t, XKB_KEY_u, XKB_KEY_v, XKB_KEY_w, XKB_KEY_x,
    XKB_KEY_y, XKB_KEY_z,
    XKB_KEY_0, XKB_KEY_1, XKB_KEY_2, XKB_KEY_3, XKB_KEY_4, XKB_KEY_5, XKB_KEY_6, XKB_KEY_7,
    XKB_KEY_8, XKB_KEY_9,
    XKB_KEY_F1, XKB_KEY_F2, XKB_KEY_F3, XKB_KEY_F4, XKB_KEY_F5, XKB_KEY_F6, XKB_KEY_F7,
    XKB_KEY_F8, XKB_KEY_F9, XKB_KEY_F10, XKB_KEY_F11, XKB_KEY_F12,
    XKB_KEY_Next, XKB_KEY_Prior, XKB_KEY_Home, XKB_KEY_End,
    XKB_KEY_Up, XKB_KEY_Down, XKB_KEY_Left, XKB_KEY_Right,
    XKB_KEY_Return, XKB_KEY_space, XKB_KEY_Escape, XKB_KEY_Tab, XKB_KEY_BackSpace,
    XKB_KEY_Delete, XKB_KEY_Insert, XKB_KEY_period, XKB_KEY_comma,
    XKB_KEY_Control_L, XKB_KEY_Shift_L, XKB_KEY_Alt_L, XKB_KEY_Super_L,
    XKB_KEY_XF86AudioRaiseVolume, XKB_KEY_XF86AudioLowerVolume,
    // clang-format on
};

constexpr int maxModifiers = 32;

// For each modifier bit, the key that sets it alone while held in `layout`
// (the lowest such keycode: Shift_L before Shift_R).
void findModifierKeys(xkb_keymap* keymap, xkb_layout_index_t layout,
                      xkb_keycode_t keys[maxModifiers]) {
    for (int m = 0; m < maxModifiers; ++m)
        keys[m] = 0;
    xkb_state* state = xkb_state_new(keymap);
    if (!state) return;
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap);
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= last && code < 256; ++code) {
        xkb_state_update_mask(state, 0, 0, 0, 0, 0, layout);
        xkb_state_update_key(state, code, XKB_KEY_DOWN);
        const xkb_mod_mask_t mods = xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED);
        xkb_state_update_key(state, code, XKB_KEY_UP);
        for (int m = 0; m < maxModifiers; ++m)
            if (mods == (1u << m) && keys[m] == 0) keys[m] = code;
    }
    xkb_state_unref(state);
}

// The modifier keys that make `mask`, or false.
bool modifiersFor(xkb_mod_mask_t mask, const xkb_keycode_t keys[maxModifiers], KeyStroke* stroke) {
    stroke->modifierCount = 0;
    for (int m = 0; m < maxModifiers; ++m) {
        if (!(mask & (1u << m))) continue;
        if (keys[m] == 0 || stroke->modifierCount == 3) return false;
        stroke->modifier[stroke->modifierCount++] = static_cast<uint16_t>(keys[m]);
    }
    return true;
}

bool findInLayout(xkb_keymap* keymap, xkb_layout_index_t layout, xkb_keysym_t symbol,
                  KeyStroke* stroke) {
    xkb_keycode_t modifierKeys[maxModifiers] = {};
    bool modifiersFound = false;
    const xkb_keycode_t first = xkb_keymap_min_keycode(keymap);
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap);
    for (xkb_level_index_t level = 0; level < 8; ++level) {
        for (xkb_keycode_t code = first; code <= last && code < 256; ++code) {
            const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap, code);
            if (layouts == 0) continue;
            // A key with fewer layouts than the keymap wraps round, as the
            // keymap's default has it.
            const xkb_layout_index_t keyLayout = layout % layouts;
            if (level >= xkb_keymap_num_levels_for_key(keymap, code, keyLayout)) continue;
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, code, keyLayout, level, &syms) != 1 ||
                syms[0] != symbol)
                continue;
            xkb_mod_mask_t masks[8];
            const size_t count =
                xkb_keymap_key_get_mods_for_level(keymap, code, keyLayout, level, masks, 8);
            for (size_t i = 0; i < count; ++i) {
                if (masks[i] != 0 && !modifiersFound) {
                    findModifierKeys(keymap, layout, modifierKeys);
                    modifiersFound = true;
                }
                if (modifiersFor(masks[i], modifierKeys, stroke)) {
                    stroke->key = static_cast<uint16_t>(code);
                    return true;
                }
            }
        }
    }
    return false;
}

} // namespace

xkb_keysym_t keySymbol(KeyId key) {
    const int i = static_cast<int>(key);
    return i >= 1 && i < keyIdCount ? keysyms[i - 1] : 0;
}

bool findKeyStroke(xkb_keymap* keymap, xkb_layout_index_t layout, xkb_keysym_t symbol,
                   KeyStroke* stroke) {
    *stroke = KeyStroke{};
    if (!keymap || symbol == 0) return false;
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap);
    if (layouts == 0) return false;
    for (xkb_layout_index_t i = 0; i < layouts; ++i)
        if (findInLayout(keymap, (layout + i) % layouts, symbol, stroke)) return true;
    return false;
}
