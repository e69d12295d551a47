// The compiled resources of tolvane.exe, read back through the Windows
// resource calls. The dialogs are driven on screen by the GUI end-to-end test.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "app/win32/resource.h"

namespace {

const WORD japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

struct Resource {
    const BYTE* data = nullptr;
    DWORD size = 0;
};

// Resource types by number (the RT_ names are the narrow forms here).
constexpr int typeGroupIcon = 14, typeManifest = 24;

Resource findResource(int type, int id, WORD language = japanese) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceExW(module, MAKEINTRESOURCEW(type), MAKEINTRESOURCEW(id), language);
    if (info == nullptr) return {};
    HGLOBAL loaded = LoadResource(module, info);
    return {static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(module, info)};
}

std::string utf8(const std::wstring& text) {
    char out[512];
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, sizeof out, nullptr, nullptr);
    return n > 0 ? std::string(out) : std::string();
}

} // namespace

TEST(Win32Resources, StringsMenuAndAccelerators) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    wchar_t text[100];
    ASSERT_GT(LoadStringW(instance, IDS_APP_TITLE, text, 100), 0);
    EXPECT_EQ(utf8(text), "tolvane");
    ASSERT_GT(LoadStringW(instance, IDS_WINDOW_CLASS, text, 100), 0);
    EXPECT_EQ(utf8(text), "TOLVANE");
    // The notes line's own texts, which the GUI test waits for by their start.
    wchar_t note[256];
    ASSERT_GT(LoadStringW(instance, IDS_NOTE_STOPPED, note, 256), 0);
    EXPECT_EQ(utf8(note).rfind("設定を保存し、測定を止めました。", 0), 0u) << utf8(note);
    EXPECT_NE(utf8(note).find("「実行」"), std::string::npos);
    ASSERT_GT(LoadStringW(instance, IDS_NOTE_SECOND_PROGRAM, note, 256), 0);
    EXPECT_EQ(utf8(note).rfind("別の tolvane がすでに動いています。", 0), 0u) << utf8(note);

    HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(IDM_MAIN_MENU));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    GetMenuStringW(menu, 0, text, 100, MF_BYPOSITION);
    EXPECT_EQ(utf8(text), "設定・実行(&F)");
    GetMenuStringW(menu, 1, text, 100, MF_BYPOSITION);
    EXPECT_EQ(utf8(text), "ヘルプ(&H)");
    struct Item {
        int popup, position;
        const char* text;
        UINT command;
    } items[] = {{0, 0, "終了(&X)", IDM_EXIT},
                 {0, 1, "設定(&C)", IDM_SETTINGS},
                 {0, 2, "実行(&R)", IDM_RUN},
                 {1, 0, "バージョン情報(&A)...", IDM_ABOUT}};
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(menu, 0)), 3);
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(menu, 1)), 1);
    for (const Item& item : items) {
        HMENU popup = GetSubMenu(menu, item.popup);
        GetMenuStringW(popup, item.position, text, 100, MF_BYPOSITION);
        EXPECT_EQ(utf8(text), item.text);
        EXPECT_EQ(GetMenuItemID(popup, item.position), item.command);
    }
    DestroyMenu(menu);

    HACCEL table = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDA_ACCELERATORS));
    ASSERT_NE(table, nullptr);
    ACCEL entries[4];
    ASSERT_EQ(CopyAcceleratorTableW(table, entries, 4), 2);
    // Characters with Alt, not virtual keys.
    EXPECT_EQ(entries[0].fVirt & ~0x80, FALT);
    EXPECT_EQ(entries[0].key, '?');
    EXPECT_EQ(entries[0].cmd, IDM_ABOUT);
    EXPECT_EQ(entries[1].fVirt & ~0x80, FALT);
    EXPECT_EQ(entries[1].key, '/');
    EXPECT_EQ(entries[1].cmd, IDM_ABOUT);
}

TEST(Win32Resources, IconsAndManifest) {
    for (auto [id, size] : {std::pair{IDI_LARGE_ICON, 128}, std::pair{IDI_SMALL_ICON, 48}}) {
        SCOPED_TRACE(id);
        Resource group = findResource(typeGroupIcon, id);
        ASSERT_NE(group.data, nullptr);
        WORD count;
        std::memcpy(&count, group.data + 4, 2);
        EXPECT_EQ(count, 1);
        const BYTE* entry = group.data + 6;
        EXPECT_EQ(entry[0], size);
        EXPECT_EQ(entry[1], size);
        WORD bits;
        std::memcpy(&bits, entry + 6, 2);
        EXPECT_EQ(bits, 32);
        HICON icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, 0));
        EXPECT_NE(icon, nullptr);
        if (icon != nullptr) DestroyIcon(icon);
    }
    Resource manifest = findResource(typeManifest, 1, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_NE(manifest.data, nullptr);
    std::string text(reinterpret_cast<const char*>(manifest.data), manifest.size);
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(text.find("uiAccess=\"false\""), std::string::npos);
}
