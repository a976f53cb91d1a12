// Modal dialogs: one dialog procedure runs every template, handing the
// dialog's controls and commands to the logic object the command gave it.
#include <algorithm>
#include <string>

#include "core/prefs.h"
#include "ui/dialogs.h"
#include "win32/owner_draw.h"
#include "win32/test_hook.h"
#include "win32/text.h"
#include "win32/win32_window_system.h"

namespace {

// The one field with a character filter (dialogs are modal, so at most one
// is open) and the edit control's own procedure it replaced.
WNDPROC FilteredFieldProc = nullptr;
CharFilter FieldFilter = nullptr;

LRESULT CALLBACK PcNameFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam)
{
    const WNDPROC own = FilteredFieldProc;
    if (message == WM_CHAR && wParam >= 32 && FieldFilter != nullptr) {
        // The filter judges Windows-1252 characters; one without a form there
        // arrives as '?', which no name may hold, and is swallowed with it.
        const wchar_t unit = static_cast<wchar_t>(wParam);
        const std::string typed = Ansi(std::wstring_view(&unit, 1));
        const int kept = FieldFilter(static_cast<unsigned char>(typed.empty() ? '?' : typed[0]), Prefs.AllowUpper != 0);
        if (kept < 0) return 0;
        const std::wstring back = Wide(std::string(1, static_cast<char>(kept)));
        wParam = back.empty() ? wParam : back[0];
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(own));
        FilteredFieldProc = nullptr;
        FieldFilter = nullptr;
    }
    return CallWindowProcW(own, field, message, wParam, lParam);
}

class Win32DialogControls final : public DialogControls {
public:
    void Attach(HWND dialog) { dialog_ = dialog; }

    std::string Text(int control, unsigned maxChars) override
    {
        const HWND item = GetDlgItem(dialog_, control);
        if (item == nullptr) return {};
        std::wstring text(static_cast<size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
        std::string ansi = Ansi(text);
        if (ansi.size() > maxChars) ansi.resize(maxChars);
        return ansi;
    }
    void SetText(int control, const char* text) override
    {
        SetDlgItemTextW(dialog_, control, Wide(text ? text : "").c_str());
    }
    void LimitText(int control, unsigned maxChars) override
    {
        SendDlgItemMessageW(dialog_, control, EM_LIMITTEXT, maxChars, 0);
    }
    bool Checked(int control) override { return IsDlgButtonChecked(dialog_, control) == BST_CHECKED; }
    void SetChecked(int control, bool checked) override
    {
        CheckDlgButton(dialog_, control, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    void Enable(int control, bool enable) override
    {
        if (const HWND item = GetDlgItem(dialog_, control)) EnableWindow(item, enable);
    }
    void ComboReset(int control) override { SendDlgItemMessageW(dialog_, control, CB_RESETCONTENT, 0, 0); }
    void ComboAdd(int control, const char* text) override
    {
        const std::wstring wide = Wide(text ? text : "");
        SendDlgItemMessageW(dialog_, control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    }
    int ComboSelection(int control) override
    {
        const LRESULT selection = SendDlgItemMessageW(dialog_, control, CB_GETCURSEL, 0, 0);
        return selection == CB_ERR ? -1 : static_cast<int>(selection);
    }
    void ComboSelect(int control, int index) override
    {
        SendDlgItemMessageW(dialog_, control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    void UseListFont(int control) override
    {
        if (ListFont != nullptr)
            SendDlgItemMessageW(dialog_, control, WM_SETFONT, reinterpret_cast<WPARAM>(ListFont), TRUE);
    }
    void UseExtendedUi(int control) override { SendDlgItemMessageW(dialog_, control, CB_SETEXTENDEDUI, TRUE, 0); }
    void FilterTyping(int control, CharFilter filter) override
    {
        const HWND field = GetDlgItem(dialog_, control);
        if (field == nullptr || filter == nullptr) return;
        FieldFilter = filter;
        const auto previous = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PcNameFieldProc)));
        // Installed twice on one field, the filter must not call itself.
        if (previous != PcNameFieldProc) FilteredFieldProc = previous;
    }
    int ShowMessage(const char* text, const char* caption, unsigned style) override
    {
        LogMessageOpen(caption, text, style);
        const std::wstring wideText = Wide(text ? text : "");
        const std::wstring wideCaption = Wide(caption ? caption : "");
        const int answer = MessageBoxW(dialog_, wideText.c_str(), caption ? wideCaption.c_str() : nullptr, style);
        LogMessageAnswer(answer);
        return answer;
    }

private:
    HWND dialog_ = nullptr;
};

// Over the middle of the window that opened it, kept on that window's
// screen; without a visible owner the template centres it on the screen.
void CentreOnOwner(HWND dialog)
{
    const HWND owner = GetWindow(dialog, GW_OWNER);
    if (owner == nullptr || !IsWindowVisible(owner) || IsIconic(owner)) return;
    RECT outer, own;
    GetWindowRect(owner, &outer);
    GetWindowRect(dialog, &own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    int x = (outer.left + outer.right - width) / 2;
    int y = (outer.top + outer.bottom - height) / 2;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& work = monitor.rcWork;
        x = std::max(static_cast<int>(work.left), std::min(x, static_cast<int>(work.right) - width));
        y = std::max(static_cast<int>(work.top), std::min(y, static_cast<int>(work.bottom) - height));
    }
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

struct DialogSession {
    DialogLogic* logic;
    const char* templateName;
    Win32DialogControls controls;
    bool initialising = false;
};

INT_PTR CALLBACK DialogTrampoline(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* session = reinterpret_cast<DialogSession*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        session->controls.Attach(dialog);
        CentreOnOwner(dialog);
        // Filling the fields makes them report changes; the logic decides
        // what the dialog opens with, so those reports are not passed on.
        session->initialising = true;
        session->logic->Init(session->controls);
        session->initialising = false;
        LogDialog(dialog, session->templateName, "open", 0);
        return TRUE;
    }
    auto* session = reinterpret_cast<DialogSession*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (session == nullptr) return FALSE;
    if (message == WM_COMMAND) {
        if (session->initialising) return TRUE;
        const int end = session->logic->Command(session->controls, LOWORD(wParam), HIWORD(wParam));
        if (end != kDialogKeepRunning) {
            LogDialog(dialog, session->templateName, "close", end);
            EndDialog(dialog, end);
        }
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int Win32WindowSystem::RunDialog(WindowHandle owner, DialogLogic& logic)
{
    // During long work the progress window is on top and the main window is
    // disabled: a question then belongs to the progress window, so it opens
    // above it and its Cancel waits for the answer.
    HWND parent = static_cast<HWND>(owner);
    if (progress_ != nullptr) parent = progress_;
    DialogSession session{&logic, logic.TemplateName(), {}};
    const std::wstring name = Wide(session.templateName);
    const INT_PTR end = DialogBoxParamW(instance_, name.c_str(), parent, DialogTrampoline,
                                        reinterpret_cast<LPARAM>(&session));
    return static_cast<int>(end);
}

NameExistsAnswer Win32WindowSystem::AskNameExists(WindowHandle owner, NameSide side, char* name)
{
    return AskNameExistsInDialog(*this, owner, side, name);
}
