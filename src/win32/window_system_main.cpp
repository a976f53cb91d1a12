// The main window's services for the command logic: message boxes, the two
// file lists, the drive and path boxes, labels and buttons, the menus, the
// cursor, the help page, the scroll bar of the PC list and the image file
// dialogs. Texts go to the wide calls through Wide() and come back through
// Ansi().
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

#include <string>

#include "core/prefs.h"
#include "win32/owner_draw.h"
#include "win32/resource_ids.h"
#include "win32/test_hook.h"
#include "win32/text.h"
#include "win32/win32_window_system.h"

namespace {

Win32WindowSystem* g_ws = nullptr;

LRESULT Send(HWND control, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    return SendMessageW(control, message, wParam, lParam);
}

// The menu of the menu bar at `position`, or null.
HMENU Submenu(HWND window, int position)
{
    HMENU bar = GetMenu(window);
    return bar ? GetSubMenu(bar, position) : nullptr;
}

}  // namespace

Win32WindowSystem& Win32Ws() { return *g_ws; }
void SetWin32Ws(Win32WindowSystem* ws) { g_ws = ws; }

int Win32WindowSystem::ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style)
{
    LogMessageOpen(caption, text, style);
    const std::wstring wideText = Wide(text ? text : "");
    const std::wstring wideCaption = Wide(caption ? caption : "");
    // During long work the main window is disabled under the progress
    // window: a box owned by it would enable it again when it closes.
    HWND parent = static_cast<HWND>(owner);
    if (progress_ != nullptr && parent == main_) parent = progress_;
    const int answer = MessageBoxW(parent, wideText.c_str(), caption ? wideCaption.c_str() : nullptr, style);
    LogMessageAnswer(answer);
    return answer;
}

int Win32WindowSystem::ListCount(int control)
{
    const LRESULT n = Send(Control(control), LB_GETCOUNT);
    return n < 0 ? 0 : static_cast<int>(n);
}

int Win32WindowSystem::ListSelectedCount(int control)
{
    const LRESULT n = Send(Control(control), LB_GETSELCOUNT);
    return n < 0 ? 0 : static_cast<int>(n);
}

int Win32WindowSystem::ListCaretIndex(int control)
{
    return static_cast<int>(Send(Control(control), LB_GETCARETINDEX));
}

int Win32WindowSystem::ListFirstSelected(int control)
{
    int first = -1;
    const LRESULT n = Send(Control(control), LB_GETSELITEMS, 1, reinterpret_cast<LPARAM>(&first));
    return n == 1 ? first : -1;
}

bool Win32WindowSystem::ListItemSelected(int control, int index)
{
    return Send(Control(control), LB_GETSEL, static_cast<WPARAM>(index)) > 0;
}

intptr_t Win32WindowSystem::ListItemData(int control, int index)
{
    const LRESULT data = Send(Control(control), LB_GETITEMDATA, static_cast<WPARAM>(index));
    return data == LB_ERR ? -1 : static_cast<intptr_t>(data);
}

void Win32WindowSystem::ListSelect(int control, int index, bool selected)
{
    HWND list = Control(control);
    Send(list, LB_SETSEL, selected ? TRUE : FALSE, index);
    // One line chosen by the program becomes the caret line, shown in view,
    // so that Info and the next typed character start from it.
    if (index >= 0) Send(list, LB_SETCARETINDEX, static_cast<WPARAM>(index), FALSE);
}

int Win32WindowSystem::ListTopIndex(int control)
{
    const LRESULT top = Send(Control(control), LB_GETTOPINDEX);
    return top < 0 ? 0 : static_cast<int>(top);
}

void Win32WindowSystem::ListSetTopIndex(int control, int index)
{
    Send(Control(control), LB_SETTOPINDEX, static_cast<WPARAM>(index));
}

void Win32WindowSystem::ListReset(int control) { Send(Control(control), LB_RESETCONTENT); }

void Win32WindowSystem::ListAddItem(int control, intptr_t itemData)
{
    // Owner-drawn lines without strings: the added value is the item data.
    Send(Control(control), LB_ADDSTRING, 0, static_cast<LPARAM>(itemData));
}

int Win32WindowSystem::ComboCount(int control)
{
    const LRESULT n = Send(Control(control), CB_GETCOUNT);
    return n < 0 ? 0 : static_cast<int>(n);
}

int Win32WindowSystem::ComboSelection(int control) { return static_cast<int>(Send(Control(control), CB_GETCURSEL)); }

void Win32WindowSystem::ComboSelect(int control, int index)
{
    Send(Control(control), CB_SETCURSEL, static_cast<WPARAM>(index));
}

int Win32WindowSystem::ComboText(int control, int index, char* out, int outSize)
{
    if (outSize <= 0) return 0;
    out[0] = 0;
    HWND box = Control(control);
    const LRESULT length = Send(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (index < 0 || length == CB_ERR) return 0;
    std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got = Send(box, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(wide.data()));
    if (got == CB_ERR) return 0;
    wide.resize(static_cast<size_t>(got));
    const std::string text = Ansi(wide);
    const size_t n = text.size() < static_cast<size_t>(outSize) ? text.size() : static_cast<size_t>(outSize) - 1;
    text.copy(out, n);
    out[n] = 0;
    return static_cast<int>(n);
}

void Win32WindowSystem::ComboInsertFirst(int control, const char* text)
{
    const std::wstring wide = Wide(text);
    Send(Control(control), CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

void Win32WindowSystem::ComboAdd(int control, const char* text)
{
    const std::wstring wide = Wide(text);
    Send(Control(control), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

void Win32WindowSystem::ComboDeleteFirst(int control) { Send(Control(control), CB_DELETESTRING, 0); }

void Win32WindowSystem::ComboReset(int control) { Send(Control(control), CB_RESETCONTENT); }

void Win32WindowSystem::ComboShowDropDown(int control, bool show)
{
    // The box announces its close-up; the logic closing it acts on its own.
    closingDropDown_ = !show;
    Send(Control(control), CB_SHOWDROPDOWN, show ? TRUE : FALSE);
    closingDropDown_ = false;
}

void Win32WindowSystem::EnableControl(int control, bool enable) { EnableWindow(Control(control), enable); }

void Win32WindowSystem::SetControlText(int control, const char* text)
{
    SetWindowTextW(Control(control), Wide(text).c_str());
}

bool Win32WindowSystem::MenuChecked(int id)
{
    const UINT state = GetMenuState(GetMenu(main_), static_cast<UINT>(id), MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && (state & MF_CHECKED) != 0;
}

void Win32WindowSystem::MenuCheck(int id, bool checked)
{
    CheckMenuItem(GetMenu(main_), static_cast<UINT>(id), MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void Win32WindowSystem::MenuInsert(int menu, int position, int id, const char* text)
{
    HMENU sub = Submenu(main_, menu);
    if (!sub) return;
    InsertMenuW(sub, static_cast<UINT>(position), MF_BYPOSITION | MF_STRING, static_cast<UINT_PTR>(id),
                Wide(text).c_str());
    DrawMenuBar(main_);
}

void Win32WindowSystem::MenuDelete(int menu, int id)
{
    HMENU sub = Submenu(main_, menu);
    if (!sub) return;
    DeleteMenu(sub, static_cast<UINT>(id), MF_BYCOMMAND);
    DrawMenuBar(main_);
}

void Win32WindowSystem::SetBusyCursor(bool busy)
{
    if (busy) {
        HCURSOR old = SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
        if (old != nullptr) savedCursor_ = old;
    } else {
        SetCursor(savedCursor_ ? savedCursor_ : LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
    }
}

void Win32WindowSystem::ShowHelp(bool open)
{
    // The page opens in the browser, which stays the user's: nothing to
    // close at exit.
    if (!open || HelpPath[0] == 0) return;
    LogEvent("help", HelpPath);
    const HINSTANCE opened = ShellExecuteW(main_, L"open", Wide(HelpPath).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(opened) <= 32) {
        const std::string text = std::string("The help page could not be opened:\n") + HelpPath;
        ShowMessage(main_, text.c_str(), "Help", kMbOk | kMbIconExclamation);
    }
}

bool Win32WindowSystem::CreateListFont(WindowHandle window)
{
    return ::CreateListFont(static_cast<HWND>(window)) == 0;
}

void Win32WindowSystem::UseListFont(int control)
{
    Send(Control(control), WM_SETFONT, reinterpret_cast<WPARAM>(ListFont), TRUE);
}

void Win32WindowSystem::RegisterButtonBitmaps()
{
    const struct {
        int control;
        int bitmap;
    } faces[] = {{IDC_COPY, IDB_COPY_PC}, {IDC_COPY, IDB_COPY_MAC}, {IDC_NEW, IDB_NEW}, {IDC_DELETE, IDB_DELETE},
                 {IDC_INFO, IDB_INFO}};
    for (const auto& face : faces) RegisterButtonBitmap(main_, instance_, face.control, face.bitmap);
}

void Win32WindowSystem::UseExtendedComboUi(int control) { Send(Control(control), CB_SETEXTENDEDUI, TRUE); }

int Win32WindowSystem::FocusedControl()
{
    HWND focus = GetFocus();
    // A control made of parts (a box's own edit field) counts as itself.
    while (focus != nullptr && GetParent(focus) != main_) {
        if (!IsChild(main_, focus)) return 0;
        focus = GetParent(focus);
    }
    return focus ? GetDlgCtrlID(focus) : 0;
}

bool Win32WindowSystem::ComboDroppedDown(int control) { return Send(Control(control), CB_GETDROPPEDSTATE) != 0; }

void Win32WindowSystem::ComboSetDropDownItems(int control, int visibleItems)
{
    // The height given to a drop-down box is that of the box and its open
    // list together.
    HWND box = Control(control);
    RECT rect;
    if (!GetWindowRect(box, &rect)) return;
    const LRESULT itemHeight = Send(box, CB_GETITEMHEIGHT, 0);
    if (itemHeight == CB_ERR) return;
    const int height = static_cast<int>(itemHeight) * visibleItems + (rect.bottom - rect.top) + 8;
    SetWindowPos(box, nullptr, 0, 0, rect.right - rect.left, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
}

void Win32WindowSystem::ScrollBarShow(int control, bool show)
{
    ShowWindow(Control(control), show ? SW_SHOW : SW_HIDE);
}

void Win32WindowSystem::ScrollBarSetRange(int control, int maximum)
{
    SetScrollRange(Control(control), SB_CTL, 0, maximum, FALSE);
}

int Win32WindowSystem::ScrollBarPos(int control) { return GetScrollPos(Control(control), SB_CTL); }

void Win32WindowSystem::ScrollBarSetPos(int control, int position)
{
    SetScrollPos(Control(control), SB_CTL, position, TRUE);
}

void Win32WindowSystem::ListInvalidate(int control) { InvalidateRect(Control(control), nullptr, FALSE); }

void Win32WindowSystem::RepaintNow(WindowHandle window)
{
    RedrawWindow(static_cast<HWND>(window), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void Win32WindowSystem::EndMainWindow(WindowHandle window, int value)
{
    mainEnded_ = true;
    EndDialog(static_cast<HWND>(window), value);
    PostQuitMessage(0);
}

bool Win32WindowSystem::AskImagePath(WindowHandle owner, bool create, char* path, size_t pathSize)
{
    if (pathSize == 0) return false;
    path[0] = 0;
    static const wchar_t kFilter[] =
        L"Disk images (*.img;*.image;*.dsk;*.hfs;*.iso)\0*.img;*.image;*.dsk;*.hfs;*.iso\0All files (*.*)\0*.*\0";
    wchar_t file[MAX_PATH] = {};
    OPENFILENAMEW request = {};
    request.lStructSize = sizeof request;
    request.hwndOwner = static_cast<HWND>(owner);
    request.lpstrFilter = kFilter;
    request.nFilterIndex = 1;
    request.lpstrFile = file;
    request.nMaxFile = MAX_PATH;
    request.lpstrTitle = create ? L"New Disk Image" : L"Open Disk Image";
    request.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    if (create) {
        // An existing name is refused later, so no question about replacing it.
        request.lpstrDefExt = L"img";
    } else {
        request.Flags |= OFN_FILEMUSTEXIST;
    }
    LogEvent("file-dialog", create ? "new" : "open");
    const BOOL chosen = create ? GetSaveFileNameW(&request) : GetOpenFileNameW(&request);
    if (!chosen) {
        LogEvent("file-dialog-cancel", "");
        return false;
    }
    const std::wstring wide(file);
    const std::string text = Ansi(wide);
    if (Wide(text) != wide) {
        ShowMessage(owner, "This file's name has characters that cannot be used here.", nullptr,
                    kMbOk | kMbIconExclamation);
        return false;
    }
    if (text.size() >= pathSize) return false;
    text.copy(path, text.size());
    path[text.size()] = 0;
    LogEvent("file-dialog-path", path);
    return true;
}
