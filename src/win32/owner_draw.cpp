// The list font, the file lists' lines, type-to-select and the bitmap faces
// of the command buttons.
#include "win32/owner_draw.h"

#include <string>
#include <vector>

#include "core/main_state.h"
#include "ui/mac_pane.h"
#include "ui/main_window.h"
#include "ui/pc_pane.h"
#include "win32/resource_ids.h"
#include "win32/text.h"

HFONT ListFont = nullptr;

namespace {

struct BitmapButton {
    int control;
    HBITMAP normal;
    HBITMAP pressed;
    HBITMAP disabled;
    int width;
    int height;
    RECT focus;
};

std::vector<BitmapButton> g_buttons;

bool IsFileList(int control) { return control == IDC_PC_LIST || control == IDC_MAC_LIST; }

HBITMAP LoadButtonBitmap(HINSTANCE instance, int id)
{
    return id ? LoadBitmapW(instance, MAKEINTRESOURCEW(id)) : nullptr;
}

void FillColor(HDC dc, int left, int top, int right, int bottom, COLORREF color)
{
    const RECT rect{left, top, right, bottom};
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

// The face: light grey, a black frame 2 pixels wide, and inside it a bevel
// 2 pixels wide, raised (white above and left, grey below and right) or
// pressed (grey above and left).
void DrawButtonFace(HDC dc, const RECT& r, bool pressed)
{
    const COLORREF black = RGB(0, 0, 0), grey = RGB(128, 128, 128), white = RGB(255, 255, 255);
    FillColor(dc, r.left, r.top, r.right, r.bottom, RGB(192, 192, 192));
    FillColor(dc, r.left, r.top, r.right, r.top + 2, black);
    FillColor(dc, r.left, r.bottom - 2, r.right, r.bottom, black);
    FillColor(dc, r.left, r.top, r.left + 2, r.bottom, black);
    FillColor(dc, r.right - 2, r.top, r.right, r.bottom, black);
    const int l = r.left + 2, t = r.top + 2, rt = r.right - 2, b = r.bottom - 2;
    if (pressed) {
        FillColor(dc, l, t, rt, t + 2, grey);
        FillColor(dc, l, t, l + 2, b, grey);
        return;
    }
    FillColor(dc, l, t, rt, t + 2, white);
    FillColor(dc, l, t, l + 2, b, white);
    FillColor(dc, l, b - 2, rt, b, grey);
    FillColor(dc, rt - 2, t, rt, b, grey);
}

void DrawButtonBitmap(HDC dc, const RECT& r, HBITMAP bitmap, int width, int height, int shift)
{
    HDC memory = CreateCompatibleDC(dc);
    if (!memory) return;
    HGDIOBJ old = SelectObject(memory, bitmap);
    const int x = r.left + (r.right - r.left + 1 - width) / 2 + shift;
    const int y = r.top + (r.bottom - r.top + 1 - height) / 2 + shift;
    BitBlt(dc, x, y, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

}  // namespace

int CreateListFont(HWND window)
{
    HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    LOGFONTW description;
    if (!dialogFont || GetObjectW(dialogFont, sizeof description, &description) == 0) return -1;
    description.lfWeight = FW_NORMAL;
    ListFont = CreateFontIndirectW(&description);
    return ListFont ? 0 : -1;
}

void DeleteListFont()
{
    if (ListFont) DeleteObject(ListFont);
    ListFont = nullptr;
}

int MeasureListItem(HWND window, int control, MEASUREITEMSTRUCT* measure)
{
    if (!IsFileList(control)) return 1;
    HWND list = GetDlgItem(window, control);
    RECT client{};
    GetClientRect(list, &client);
    measure->itemWidth = static_cast<UINT>(client.right - client.left);
    // The lists are measured as they are made, before ListFont exists: the
    // list's own device context font then sets the line height, which
    // leaves the list font's lines a little air.
    HDC dc = GetDC(list);
    if (!dc) return 1;
    HGDIOBJ old = ListFont ? SelectObject(dc, ListFont) : nullptr;
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    if (old) SelectObject(dc, old);
    ReleaseDC(list, dc);
    const int h = metrics.tmHeight;
    measure->itemHeight = static_cast<UINT>(h < 19 ? h * 0.875 : h * 0.8);
    if (measure->itemHeight == 0) measure->itemHeight = 1;
    return 1;
}

int DrawListItem(HWND, int control, const DRAWITEMSTRUCT* draw)
{
    if (!IsFileList(control)) return 1;
    // The lists show no focus rectangle.
    if (draw->itemAction == ODA_FOCUS || static_cast<int>(draw->itemID) < 0) return 1;
    HDC dc = draw->hDC;
    RECT rect = draw->rcItem;
    FillRect(dc, &rect, GetSysColorBrush(COLOR_WINDOW));
    if (!DisplayUpdates) return 1;  // a tree walk is listing folders unseen
    SetBkMode(dc, TRANSPARENT);
    if (draw->itemState & ODS_SELECTED) {
        FillRect(dc, &rect, GetSysColorBrush(COLOR_ACTIVECAPTION));
        SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
    } else {
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    }
    char line[128];
    const unsigned index = static_cast<unsigned>(draw->itemData);
    if (control == IDC_PC_LIST)
        FormatPcLine(line, index, HScrollPos);
    else
        FormatMacItemLine(line, index);
    const std::wstring text = Wide(line);
    HGDIOBJ old = ListFont ? SelectObject(dc, ListFont) : nullptr;
    TextOutW(dc, rect.left + 2, rect.top, text.c_str(), static_cast<int>(text.size()));
    if (old) SelectObject(dc, old);
    return 1;
}

int TypeToSelect(WPARAM characterAndCaret, HWND list)
{
    const wchar_t typed = static_cast<wchar_t>(LOWORD(characterAndCaret));
    const int caret = static_cast<short>(HIWORD(characterAndCaret));
    // The names are Windows-1252 (PC) or Mac bytes: the character is
    // compared in the engine's own set.
    const std::string character = Ansi(std::wstring_view(&typed, 1));
    if (character.size() == 1)
        SelectTypedItem(GetDlgCtrlID(list), static_cast<uint8_t>(character[0]), caret);
    return -2;
}

int RegisterButtonBitmap(HWND window, HINSTANCE instance, int control, int normal, int pressed, int disabled)
{
    if (!normal) return -1;
    BitmapButton button{control, LoadButtonBitmap(instance, normal), LoadButtonBitmap(instance, pressed),
                        LoadButtonBitmap(instance, disabled), 0, 0, {}};
    if (!button.normal) return -1;
    BITMAP info{};
    GetObjectW(button.normal, sizeof info, &info);
    button.width = info.bmWidth;
    button.height = info.bmHeight;
    RECT rect{};
    GetWindowRect(GetDlgItem(window, control), &rect);
    const int left = (rect.right - rect.left + 1 - button.width) / 2;
    const int top = (rect.bottom - rect.top + 1 - button.height) / 2;
    button.focus = {left - 2, top - 2, left + button.width + 2, top + button.height + 2};
    g_buttons.push_back(button);
    return 0;
}

int DrawBitmapButton(const DRAWITEMSTRUCT* draw)
{
    if (draw->CtlType != ODT_BUTTON) return 0;
    size_t i = 0;
    while (i < g_buttons.size() && g_buttons[i].control != static_cast<int>(draw->CtlID)) ++i;
    if (i == g_buttons.size()) return 0;
    // The Copy button's second face is the Mac pane's.
    if (draw->CtlID == IDC_COPY && ActivePane == 0 && i + 1 < g_buttons.size()) ++i;
    const BitmapButton& button = g_buttons[i];
    HDC dc = draw->hDC;
    const bool pressed = (draw->itemState & ODS_SELECTED) != 0;
    const int shift = pressed && !button.pressed ? 2 : 0;
    if (draw->itemAction & (ODA_DRAWENTIRE | ODA_SELECT)) {
        DrawButtonFace(dc, draw->rcItem, pressed);
        HBITMAP bitmap = button.normal;
        if ((draw->itemState & ODS_DISABLED) && button.disabled)
            bitmap = button.disabled;
        else if (pressed && button.pressed)
            bitmap = button.pressed;
        DrawButtonBitmap(dc, draw->rcItem, bitmap, button.width, button.height, shift);
        if (!(draw->itemState & ODS_FOCUS)) return 1;
    }
    // A focus change alone toggles the dotted rectangle, which is drawn by
    // inverting: drawn again, it goes.
    RECT focus = button.focus;
    OffsetRect(&focus, shift, shift);
    DrawFocusRect(dc, &focus);
    return 1;
}

void DeleteButtonBitmaps()
{
    for (const BitmapButton& button : g_buttons) {
        if (button.normal) DeleteObject(button.normal);
        if (button.pressed) DeleteObject(button.pressed);
        if (button.disabled) DeleteObject(button.disabled);
    }
    g_buttons.clear();
}
