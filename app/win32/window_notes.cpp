#include "app/win32/window_notes.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <utility>

#include "app/win32/win32_shell.h"
#include "text/number_text.h"

namespace {

// One note per source, the latest; at most this many sources at once (the
// oldest note gives way).
constexpr int noteSlots = 4;
constexpr int sourceSize = 16;

struct Note {
    bool used = false;
    unsigned order = 0;
    NoteLevel level = NoteLevel::info;
    char source[sourceSize] = "";
    wchar_t text[noteCapacity] = L"";
};

std::mutex notesLock;
Note notes[noteSlots];
unsigned notesSaid = 0;

// The worker may speak while the window is gone or not yet recorded: the
// note is kept and drawn by the next paint.
void repaintWindow() {
    if (HWND window = mainWindow.load()) InvalidateRect(window, nullptr, TRUE);
}

void keep(const char* source, NoteLevel level, const wchar_t* text) {
    std::lock_guard<std::mutex> guard(notesLock);
    Note* slot = nullptr;
    for (Note& n : notes)
        if (n.used && std::strcmp(n.source, source) == 0) slot = &n;
    for (Note& n : notes)
        if (slot == nullptr && !n.used) slot = &n;
    if (slot == nullptr)
        slot = std::min_element(std::begin(notes), std::end(notes),
                                [](const Note& a, const Note& b) { return a.order < b.order; });
    slot->used = true;
    slot->order = ++notesSaid;
    slot->level = level;
    copyText(slot->source, sizeof slot->source, source);
    wcsncpy(slot->text, text, noteCapacity - 1);
    slot->text[noteCapacity - 1] = L'\0';
}

// Notes go to an attached debugger (or wine's debug channel) too, marked so
// that they are not taken for log messages.
void forward(const char* utf8) {
    char line[noteCapacity + 16];
    TextBuilder out(line, sizeof line);
    out.append("note: ");
    out.append(utf8);
    out.append("\n");
    OutputDebugStringA(line);
}

HFONT notesFont(HDC dc) {
    // The dialogs' face, so that the Japanese notes draw as they do there.
    static HFONT font =
        CreateFontW(-MulDiv(9, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                    FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Yu Gothic UI");
    return font;
}

} // namespace

void showOutputNote(const char* source, NoteLevel level, const char* text) {
    wchar_t wide[noteCapacity];
    // The outputs write UTF-8; a text that is not is taken in the system's code page.
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, noteCapacity) == 0 &&
        MultiByteToWideChar(CP_ACP, 0, text, -1, wide, noteCapacity) == 0)
        wide[0] = L'\0';
    wide[noteCapacity - 1] = L'\0';
    keep(source, level, wide);
    forward(text);
    repaintWindow();
}

void showProgramNote(const char* source, UINT stringId, NoteLevel level) {
    wchar_t wide[noteCapacity] = L"";
    LoadStringW(appInstance, stringId, wide, noteCapacity);
    keep(source, level, wide);
    char utf8[noteCapacity * 3];
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr) == 0)
        utf8[0] = '\0';
    forward(utf8);
    repaintWindow();
}

void forgetMeasurementNotes() {
    {
        std::lock_guard<std::mutex> guard(notesLock);
        for (Note& n : notes)
            if (std::strcmp(n.source, instanceSource) != 0) n.used = false;
    }
    repaintWindow();
}

void forgetNote(const char* source) {
    {
        std::lock_guard<std::mutex> guard(notesLock);
        for (Note& n : notes)
            if (n.used && std::strcmp(n.source, source) == 0) n.used = false;
    }
    repaintWindow();
}

void paintNotes(HDC dc, HWND window) {
    Note shown[noteSlots];
    int count = 0;
    {
        std::lock_guard<std::mutex> guard(notesLock);
        for (const Note& n : notes)
            if (n.used) shown[count++] = n;
    }
    if (count == 0) return;
    // Oldest first; four at most.
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && shown[j - 1].order > shown[j].order; --j)
            std::swap(shown[j - 1], shown[j]);

    RECT client;
    GetClientRect(window, &client);
    const HGDIOBJ oldFont = SelectObject(dc, notesFont(dc));
    constexpr UINT format = DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX;
    const LONG left = 10, right = std::max<LONG>(client.right - 10, left + 1);
    // Newest at the foot; at most half the window, the oldest giving way.
    LONG heights[noteSlots];
    LONG total = 0;
    int first = count;
    while (first > 0) {
        RECT measure{left, 0, right, 0};
        DrawTextW(dc, shown[first - 1].text, -1, &measure, format | DT_CALCRECT);
        if (first < count && total + measure.bottom > client.bottom / 2) break;
        heights[--first] = measure.bottom;
        total += measure.bottom;
    }
    const LONG top = std::max<LONG>(client.bottom - total - 6, 0);
    RECT band{0, std::max<LONG>(top - 5, 0), client.right, client.bottom};
    FillRect(dc, &band, GetSysColorBrush(COLOR_WINDOW));
    RECT rule{0, band.top, client.right, band.top + 1};
    FillRect(dc, &rule, GetSysColorBrush(COLOR_BTNSHADOW));

    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour = GetTextColor(dc);
    LONG y = top;
    for (int i = first; i < count; ++i) {
        SetTextColor(dc, shown[i].level == NoteLevel::problem ? RGB(176, 0, 0)
                                                              : GetSysColor(COLOR_WINDOWTEXT));
        RECT area{left, y, right, y + heights[i]};
        DrawTextW(dc, shown[i].text, -1, &area, format);
        y += heights[i];
    }
    SetTextColor(dc, oldColour);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldFont);
}
