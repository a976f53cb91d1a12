// The test hook's log. Each event is built whole in memory and appended with
// one write to a file opened and closed around it, so a reader polling the
// file never sees half an event and nothing is lost when the program dies.
// An event is one line; a window dump adds one indented line per control and
// menu item below it and a closing "  end", written with the same call.
#include "win32/test_hook.h"

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/main_state.h"
#include "platform/cp1252.h"
#include "ui/mac_pane.h"
#include "ui/pc_pane.h"
#include "win32/resource_ids.h"

namespace {

std::wstring g_logPath;

// UTF-8 as it stands, quoted, with the characters that would break a line
// or a field escaped.
void AppendQuotedUtf8(std::string& out, std::string_view utf8)
{
    out += '"';
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                out += hex;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

// A Windows-1252 text of the engine.
void AppendQuoted(std::string& out, std::string_view ansi) { AppendQuotedUtf8(out, Cp1252ToUtf8(ansi)); }

// A text read from a control.
void AppendQuotedWide(std::string& out, std::wstring_view wide)
{
    std::string utf8;
    if (!wide.empty()) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                             nullptr, nullptr);
        if (size > 0) {
            utf8.resize(static_cast<size_t>(size));
            WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size, nullptr,
                                nullptr);
        }
    }
    AppendQuotedUtf8(out, utf8);
}

void AppendInt(std::string& out, const char* key, long long value)
{
    out += ' ';
    out += key;
    out += '=';
    out += std::to_string(value);
}

void AppendText(std::string& out, const char* key, std::string_view ansi)
{
    out += ' ';
    out += key;
    out += '=';
    AppendQuoted(out, ansi);
}

void AppendRect(std::string& out, const char* key, const RECT& r)
{
    char text[96];
    std::snprintf(text, sizeof text, " %s=%ld,%ld,%ld,%ld", key, static_cast<long>(r.left), static_cast<long>(r.top),
                  static_cast<long>(r.right), static_cast<long>(r.bottom));
    out += text;
}

void AppendIntList(std::string& out, const char* key, const std::vector<int>& values)
{
    out += ' ';
    out += key;
    out += "=[";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) out += ',';
        out += std::to_string(values[i]);
    }
    out += ']';
}

std::wstring WindowText(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

std::wstring ListText(HWND list, UINT lengthMessage, UINT textMessage, int index)
{
    const LRESULT length = SendMessageW(list, lengthMessage, static_cast<WPARAM>(index), 0);
    if (length < 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got =
        SendMessageW(list, textMessage, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

void Append(const std::string& lines)
{
    if (g_logPath.empty()) return;
    const HANDLE file = CreateFileW(g_logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    CloseHandle(file);
}

bool IsClass(const wchar_t* className, const wchar_t* name) { return lstrcmpiW(className, name) == 0; }

// The owner-drawn file lists hold item data, not strings: their lines are
// the panes' own, with the PC list's horizontal scroll applied.
void AppendFileListItems(std::string& out, HWND list, int id)
{
    const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    out += " lines=[";
    for (int i = 0; i < count; ++i) {
        const auto data = static_cast<unsigned>(SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(i), 0));
        char line[96] = {};
        if (id == IDC_PC_LIST)
            FormatPcLine(line, data, HScrollPos);
        else
            FormatMacItemLine(line, data);
        std::string_view text(line);
        while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
        if (i) out += ',';
        AppendQuoted(out, text);
    }
    out += ']';
}

void AppendListBox(std::string& out, HWND list, int id, bool fileList)
{
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(list, GWL_STYLE));
    const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    AppendInt(out, "count", count);
    if (fileList) {
        AppendFileListItems(out, list, id);
    } else if ((style & (LBS_OWNERDRAWFIXED | LBS_OWNERDRAWVARIABLE)) && !(style & LBS_HASSTRINGS)) {
        std::vector<int> data;
        for (int i = 0; i < count; ++i)
            data.push_back(static_cast<int>(SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(i), 0)));
        AppendIntList(out, "data", data);
    } else {
        out += " items=[";
        for (int i = 0; i < count; ++i) {
            if (i) out += ',';
            AppendQuotedWide(out, ListText(list, LB_GETTEXTLEN, LB_GETTEXT, i));
        }
        out += ']';
    }
    std::vector<int> selected;
    if (style & (LBS_EXTENDEDSEL | LBS_MULTIPLESEL)) {
        for (int i = 0; i < count; ++i)
            if (SendMessageW(list, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0) selected.push_back(i);
    } else {
        const int current = static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
        if (current >= 0) selected.push_back(current);
    }
    AppendIntList(out, "selected", selected);
    AppendInt(out, "caret", SendMessageW(list, LB_GETCARETINDEX, 0, 0));
    AppendInt(out, "top", SendMessageW(list, LB_GETTOPINDEX, 0, 0));
    AppendInt(out, "itemh", SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
    RECT client{};
    GetClientRect(list, &client);
    MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&client), 2);
    AppendRect(out, "client", client);
}

void AppendComboBox(std::string& out, HWND combo)
{
    const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    AppendInt(out, "count", count);
    out += " items=[";
    for (int i = 0; i < count; ++i) {
        if (i) out += ',';
        AppendQuotedWide(out, ListText(combo, CB_GETLBTEXTLEN, CB_GETLBTEXT, i));
    }
    out += ']';
    AppendInt(out, "sel", SendMessageW(combo, CB_GETCURSEL, 0, 0));
    AppendInt(out, "dropped", SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
}

void AppendControl(std::string& out, HWND control, bool mainWindow)
{
    wchar_t className[64] = {};
    GetClassNameW(control, className, 64);
    const int id = GetDlgCtrlID(control);
    RECT rect{};
    GetWindowRect(control, &rect);
    out += "  control";
    AppendInt(out, "id", id);
    out += " class=";
    AppendQuotedWide(out, className);
    AppendRect(out, "rect", rect);
    out += " text=";
    AppendQuotedWide(out, WindowText(control));
    AppendInt(out, "enabled", IsWindowEnabled(control) ? 1 : 0);
    AppendInt(out, "visible", IsWindowVisible(control) ? 1 : 0);
    if (IsClass(className, L"Button")) {
        AppendInt(out, "checked", SendMessageW(control, BM_GETCHECK, 0, 0));
    } else if (IsClass(className, L"ListBox")) {
        AppendListBox(out, control, id, mainWindow && (id == IDC_PC_LIST || id == IDC_MAC_LIST));
    } else if (IsClass(className, L"ComboBox")) {
        AppendComboBox(out, control);
    } else if (IsClass(className, L"ScrollBar")) {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_RANGE | SIF_POS;
        if (GetScrollInfo(control, SB_CTL, &info)) {
            AppendInt(out, "min", info.nMin);
            AppendInt(out, "max", info.nMax);
            AppendInt(out, "pos", info.nPos);
        }
    } else if (IsClass(className, L"msctls_progress32")) {
        AppendInt(out, "pos", SendMessageW(control, PBM_GETPOS, 0, 0));
    }
    out += '\n';
}

void AppendControls(std::string& out, HWND window, bool mainWindow)
{
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        AppendControl(out, child, mainWindow);
}

void AppendMenu(std::string& out, HMENU menu, const std::wstring& path)
{
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 255;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) continue;
        if (info.fType & MFT_SEPARATOR) continue;
        const std::wstring itemPath = path.empty() ? std::wstring(text) : path + L"|" + text;
        out += "  menu path=";
        AppendQuotedWide(out, itemPath);
        AppendInt(out, "id", info.hSubMenu ? -1 : static_cast<long long>(info.wID));
        AppendInt(out, "checked", (info.fState & MFS_CHECKED) ? 1 : 0);
        AppendInt(out, "enabled", (info.fState & (MFS_DISABLED | MFS_GRAYED)) ? 0 : 1);
        out += '\n';
        if (info.hSubMenu) AppendMenu(out, info.hSubMenu, itemPath);
    }
}

void AppendWindow(std::string& out, HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    out += " title=";
    AppendQuotedWide(out, WindowText(window));
    AppendRect(out, "rect", rect);
}

// The progress window is found by its bar and name line, so the hook needs
// nothing from the window layer's state.
BOOL CALLBACK FindProgressWindow(HWND window, LPARAM found)
{
    if (IsWindowVisible(window) && GetDlgItem(window, IDC_PROGRESS_ITEM) && GetDlgItem(window, IDC_PROGRESS_BAR)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

void StartTestHook()
{
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = GetEnvironmentVariableW(L"QUAYLINK_TEST_LOG", path, MAX_PATH * 2);
    g_logPath = length > 0 && length < MAX_PATH * 2 ? std::wstring(path, length) : std::wstring();
    if (!g_logPath.empty()) Append("start\n");
}

bool TestHookOn() { return !g_logPath.empty(); }

void LogCommand(int id, unsigned notification)
{
    if (!TestHookOn()) return;
    std::string out = "command";
    AppendInt(out, "id", id);
    AppendInt(out, "code", notification);
    Append(out + '\n');
}

void LogMessageOpen(const char* caption, const char* text, unsigned style)
{
    if (!TestHookOn()) return;
    std::string out = "message";
    AppendText(out, "caption", caption ? caption : "");
    AppendText(out, "text", text ? text : "");
    char hex[16];
    std::snprintf(hex, sizeof hex, " style=0x%X", style);
    out += hex;
    Append(out + '\n');
}

void LogMessageAnswer(int answer)
{
    if (!TestHookOn()) return;
    std::string out = "answer";
    AppendInt(out, "value", answer);
    Append(out + '\n');
}

void LogDialog(HWND dialog, const char* templateName, const char* event, int endValue)
{
    if (!TestHookOn()) return;
    std::string out = "dialog";
    out += " event=";
    out += event;
    AppendText(out, "template", templateName ? templateName : "");
    AppendInt(out, "end", endValue);
    if (dialog && IsWindow(dialog)) {
        AppendWindow(out, dialog);
        out += '\n';
        AppendControls(out, dialog, false);
    } else {
        out += '\n';
    }
    Append(out + "  end\n");
}

void LogMainWindow(HWND window, const char* event)
{
    if (!TestHookOn() || !window || !IsWindow(window)) return;
    std::string out = "main";
    out += " event=";
    out += event;
    AppendWindow(out, window);
    AppendInt(out, "pane", ActivePane);
    AppendInt(out, "pcsort", PcSortId);
    AppendInt(out, "macsort", MacSortId);
    AppendText(out, "pcdir", PcDirectory);
    // Where the keys go: a control's id, 0 for the window itself or another
    // window, -1 for no focus at all (keys are then lost).
    const HWND focus = GetFocus();
    AppendInt(out, "focus", !focus ? -1 : IsChild(window, focus) ? GetDlgCtrlID(focus) : 0);
    AppendInt(out, "active", GetActiveWindow() == window ? 1 : 0);
    out += '\n';
    AppendControls(out, window, true);
    if (const HMENU menu = GetMenu(window)) AppendMenu(out, menu, std::wstring());
    Append(out + "  end\n");
}

void LogProgress(const char* event, const char* text)
{
    if (!TestHookOn()) return;
    std::string out = "progress";
    out += " event=";
    out += event;
    AppendText(out, "text", text ? text : "");
    HWND progress = nullptr;
    if (std::string_view(event) == "open")
        EnumThreadWindows(GetCurrentThreadId(), FindProgressWindow, reinterpret_cast<LPARAM>(&progress));
    if (progress) {
        AppendWindow(out, progress);
        out += '\n';
        AppendControls(out, progress, false);
    } else {
        out += '\n';
    }
    Append(out + "  end\n");
}

void LogEvent(const char* event, const char* text)
{
    if (!TestHookOn()) return;
    std::string out = "event";
    out += " event=";
    out += event ? event : "";
    AppendText(out, "text", text ? text : "");
    Append(out + '\n');
}
