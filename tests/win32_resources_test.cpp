// The compiled resources of tolvane.exe, read back through the Windows
// resource calls, and the settings dialog procedure on a real dialog.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <string>
#include <vector>

#include "app/win32/resource.h"
#include "app/win32/win32_shell.h"
#include "settings/settings.h"

namespace {

const WORD japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

struct Resource {
    const BYTE* data = nullptr;
    DWORD size = 0;
};

// Resource types by number (the RT_ names are the narrow forms here).
constexpr int typeDialog = 5, typeGroupIcon = 14, typeManifest = 24;

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

// Reader of an extended dialog template.
struct TemplateReader {
    const BYTE* p;
    WORD word() {
        WORD v;
        std::memcpy(&v, p, 2);
        p += 2;
        return v;
    }
    DWORD dword() {
        DWORD v;
        std::memcpy(&v, p, 4);
        p += 4;
        return v;
    }
    short shortValue() { return static_cast<short>(word()); }
    std::wstring string() {
        std::wstring s;
        for (WORD c = word(); c != 0; c = word())
            s += static_cast<wchar_t>(c);
        return s;
    }
    // A name or an ordinal: the ordinal comes back as "#<n>".
    std::wstring nameOrOrdinal() {
        WORD first;
        std::memcpy(&first, p, 2);
        if (first == 0xFFFF) {
            p += 2;
            return L"#" + std::to_wstring(word());
        }
        return string();
    }
    void alignDword(const BYTE* base) {
        while ((p - base) % 4 != 0)
            ++p;
    }
};

// A predefined class may be stored by name or by ordinal; both mean the same.
std::wstring classOrdinal(std::wstring name) {
    for (wchar_t& c : name)
        c = static_cast<wchar_t>(towupper(c));
    if (name == L"BUTTON") return L"#128";
    if (name == L"EDIT") return L"#129";
    if (name == L"STATIC") return L"#130";
    return name;
}

struct DialogItem {
    int id;
    std::wstring kind; // "#128" button, "#129" edit, "#130" static
    std::string text;
    short x, y, cx, cy;
    DWORD style;
};

struct Dialog {
    DWORD style;
    short cx, cy;
    std::string title, font;
    WORD points, weight;
    BYTE charset;
    std::vector<DialogItem> items;
};

Dialog readDialog(int id) {
    Resource res = findResource(typeDialog, id);
    EXPECT_NE(res.data, nullptr);
    Dialog d{};
    if (res.data == nullptr) return d;
    TemplateReader r{res.data};
    EXPECT_EQ(r.word(), 1);      // version
    EXPECT_EQ(r.word(), 0xFFFF); // extended template
    r.dword();                   // help id
    r.dword();                   // extended style
    d.style = r.dword();
    const WORD count = r.word();
    r.shortValue();
    r.shortValue();
    d.cx = r.shortValue();
    d.cy = r.shortValue();
    r.nameOrOrdinal(); // menu
    r.nameOrOrdinal(); // class
    d.title = utf8(r.string());
    d.points = r.word();
    d.weight = r.word();
    r.p += 1; // italic
    d.charset = *r.p++;
    d.font = utf8(r.string());
    for (WORD i = 0; i < count; ++i) {
        r.alignDword(res.data);
        DialogItem item{};
        r.dword(); // help id
        r.dword(); // extended style
        item.style = r.dword();
        item.x = r.shortValue();
        item.y = r.shortValue();
        item.cx = r.shortValue();
        item.cy = r.shortValue();
        item.id = static_cast<int>(r.dword());
        item.kind = classOrdinal(r.nameOrOrdinal());
        std::wstring text = r.nameOrOrdinal();
        item.text = text.rfind(L"#", 0) == 0 ? std::string() : utf8(text);
        r.p += r.word(); // creation data
        d.items.push_back(item);
    }
    return d;
}

constexpr DWORD child = WS_CHILD | WS_VISIBLE;
constexpr DWORD defaultButton = child | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD button = child | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD edit = child | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
constexpr DWORD label = child | WS_GROUP | SS_LEFT;
constexpr DWORD checkBox = child | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD radio = child | BS_AUTORADIOBUTTON;
constexpr DWORD groupBox = child | BS_GROUPBOX;
constexpr DWORD modalFrame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;

struct Expected {
    int id;
    const wchar_t* kind;
    const char* text;
    short x, y, cx, cy;
    DWORD style;
};

void expectItems(const Dialog& d, const std::vector<Expected>& expected) {
    ASSERT_EQ(d.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const DialogItem& got = d.items[i];
        const Expected& want = expected[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.id));
        EXPECT_EQ(static_cast<int>(static_cast<short>(got.id)), want.id);
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.style, want.style);
    }
}

} // namespace

TEST(Win32Resources, StringsMenuAndAccelerators) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    wchar_t text[100];
    ASSERT_GT(LoadStringW(instance, IDS_APP_TITLE, text, 100), 0);
    EXPECT_EQ(utf8(text), "tolvane");
    ASSERT_GT(LoadStringW(instance, IDS_WINDOW_CLASS, text, 100), 0);
    EXPECT_EQ(utf8(text), "TOLVANE");

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

TEST(Win32Resources, AboutBox) {
    Dialog d = readDialog(IDD_ABOUT_BOX);
    EXPECT_EQ(d.style, modalFrame);
    EXPECT_EQ(d.cx, 170);
    EXPECT_EQ(d.cy, 62);
    EXPECT_EQ(d.title, "バージョン情報 tolvane");
    EXPECT_EQ(d.font, "MS UI Gothic");
    EXPECT_EQ(d.points, 9);
    ASSERT_EQ(d.items.size(), 4u);
    EXPECT_EQ(d.items[0].kind, L"#130");
    EXPECT_EQ(d.items[0].style & SS_TYPEMASK, static_cast<DWORD>(SS_ICON));
    EXPECT_EQ(d.items[1].text, "tolvane, バージョン 1.1");
    EXPECT_EQ(d.items[1].style, label | SS_NOPREFIX);
    EXPECT_EQ(d.items[1].x, 42);
    EXPECT_EQ(d.items[1].cx, 114);
    EXPECT_EQ(d.items[3].id, IDOK);
    EXPECT_EQ(d.items[3].style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(d.items[3].x, 113);
    EXPECT_EQ(d.items[3].y, 41);
}

TEST(Win32Resources, SettingsDialogControlsInTabOrder) {
    Dialog d = readDialog(IDD_SETTINGS);
    EXPECT_EQ(d.style, modalFrame);
    EXPECT_EQ(d.cx, 294);
    EXPECT_EQ(d.cy, 141);
    EXPECT_EQ(d.title, "設定");
    EXPECT_EQ(d.font, "Yu Gothic UI");
    EXPECT_EQ(d.points, 8);
    EXPECT_EQ(d.weight, 400);
    EXPECT_EQ(d.charset, SHIFTJIS_CHARSET);
    const wchar_t* b = L"#128";
    const wchar_t* e = L"#129";
    const wchar_t* s = L"#130";
    expectItems(d, {
                       {1, b, "OK", 67, 120, 50, 14, defaultButton},
                       {2, b, "キャンセル", 147, 120, 50, 14, button},
                       {1000, e, "", 72, 99, 30, 12, edit},
                       {1001, s, "COM名称", 23, 21, 40, 8, label},
                       {1002, s, "（画面幅の何倍か）", 19, 74, 64, 8, label},
                       {1003, e, "", 73, 19, 51, 13, edit},
                       {1005, e, "", 87, 68, 47, 12, edit},
                       {1006, s, "画面からの位置", 25, 66, 50, 8, label},
                       {1007, s, "平均化レベル", 22, 100, 43, 8, label},
                       {1010, e, "", 199, 86, 45, 12, edit},
                       {1011, b, "マウス機能有効", 27, 53, 76, 12, checkBox},
                       {1012, b, "LAN通信サーバー機能有効", 158, 63, 90, 11, checkBox},
                       {1013, b, "WebSocketサーバーにする", 175, 73, 92, 11, checkBox},
                       {1014, s, "ポート番号", 160, 88, 36, 8, label},
                       {1015, s, "※LAN通信は本体プリセットCのみ", 159, 54, 113, 8, label},
                       {1016, b, "プリセットC", 213, 11, 46, 10, radio},
                       {1017, b, "プリセットB", 154, 11, 55, 10, radio},
                       {-1, b, "LAN通信", 154, 47, 122, 69, groupBox},
                       {-1, b, "空中マウス", 19, 46, 122, 70, groupBox},
                       {1008, s, "平均化レベル", 160, 101, 43, 8, label},
                       {1004, e, "", 205, 100, 30, 12, edit},
                       {1009, s, "スクロール速度", 22, 87, 45, 8, label},
                       {1018, e, "", 72, 86, 30, 12, edit},
                       {1019, b, "加速度", 213, 31, 46, 10, radio},
                       {1020, b, "軸回転", 154, 31, 55, 10, radio},
                       {-1, b, "", 145, 24, 125, 21, groupBox},
                       {-1, b, "", 145, 5, 125, 21, groupBox},
                   });
}

// The dialog procedure on the real controls: a button's own toggle comes
// first, then the rule; confirm reads what the controls show.
TEST(Win32SettingsDialog, ClicksAndConfirmOnRealControls) {
    setDefaults();
    stopRequested = false;
    std::remove(settingsFileName);
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETTINGS),
                                     nullptr, settingsDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    char text[64];
    GetDlgItemTextA(dialog, 1005, text, sizeof text);
    EXPECT_STREQ(text, "1.000");
    EXPECT_EQ(IsDlgButtonChecked(dialog, 1016), BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1010)));

    SendDlgItemMessageW(dialog, 1012, BM_CLICK, 0, 0);
    EXPECT_EQ(IsDlgButtonChecked(dialog, 1012), BST_CHECKED);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, 1010)));
    SendDlgItemMessageW(dialog, 1017, BM_CLICK, 0, 0);
    // The radio pair switched, the output pair did not.
    EXPECT_EQ(IsDlgButtonChecked(dialog, 1016), BST_UNCHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dialog, 1020), BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1012)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1010)));

    SetDlgItemTextA(dialog, 1003, "COM1234567890123456789012345678901234567"); // 40
    SetDlgItemTextA(dialog, 1018, "-3");
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(stopRequested);
    char port[comPortSize];
    getComPort(port);
    EXPECT_STREQ(port, "COM1234567890123456789012345678");
    EXPECT_EQ(settings.scrollSpeed, 1);
    EXPECT_EQ(settings.deviceMode, 1);
    EXPECT_EQ(settings.lanEnabled, 1); // disabled, still saved
    std::ifstream file(settingsFileName);
    std::string first;
    std::getline(file, first);
    EXPECT_EQ(first, "COM1234567890123456789012345678");
    file.close();
    DestroyWindow(dialog);
    std::remove(settingsFileName);
}
