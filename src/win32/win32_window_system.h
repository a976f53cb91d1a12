// The window system of the desktop program: the services the command logic
// asks for, carried out on the real controls of the main window, its
// dialogs and its progress window. Every text crosses here: the engine's
// Windows-1252 strings become UTF-16 for the wide calls and back.
#pragma once
#include <windows.h>

#include "core/window_system.h"

class Win32WindowSystem final : public WindowSystem {
public:
    explicit Win32WindowSystem(HINSTANCE instance) : instance_(instance) {}

    // The main window (the HARBOR dialog), from its initialisation on.
    void AttachMainWindow(HWND window) { main_ = window; }
    HWND Main() const { return main_; }
    HINSTANCE Instance() const { return instance_; }
    // The open progress window, or null.
    HWND Progress() const { return progress_; }
    // True once the main window has been ended (its procedure may still
    // see a few messages before the dialog loop returns).
    bool MainEnded() const { return mainEnded_; }
    // True while a drop-down list is being closed on the command logic's
    // behalf: the close-up it sends is not a user's choice.
    bool ClosingDropDown() const { return closingDropDown_; }

    // Message boxes, cursor, help, menus and the main window's controls
    // (window_system_main.cpp).
    int ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style) override;
    int ListCount(int control) override;
    int ListSelectedCount(int control) override;
    int ListCaretIndex(int control) override;
    int ListFirstSelected(int control) override;
    bool ListItemSelected(int control, int index) override;
    intptr_t ListItemData(int control, int index) override;
    void ListSelect(int control, int index, bool selected) override;
    int ListTopIndex(int control) override;
    void ListSetTopIndex(int control, int index) override;
    void ListReset(int control) override;
    void ListAddItem(int control, intptr_t itemData) override;
    int ComboCount(int control) override;
    int ComboSelection(int control) override;
    void ComboSelect(int control, int index) override;
    int ComboText(int control, int index, char* out, int outSize) override;
    void ComboInsertFirst(int control, const char* text) override;
    void ComboAdd(int control, const char* text) override;
    void ComboDeleteFirst(int control) override;
    void ComboReset(int control) override;
    void ComboShowDropDown(int control, bool show) override;
    void EnableControl(int control, bool enable) override;
    void SetControlText(int control, const char* text) override;
    bool MenuChecked(int id) override;
    void MenuCheck(int id, bool checked) override;
    void MenuInsert(int menu, int position, int id, const char* text) override;
    void MenuDelete(int menu, int id) override;
    void SetBusyCursor(bool busy) override;
    void ShowHelp(bool open) override;
    bool CreateListFont(WindowHandle window) override;
    void UseListFont(int control) override;
    void RegisterButtonBitmaps() override;
    void UseExtendedComboUi(int control) override;
    int FocusedControl() override;
    bool ComboDroppedDown(int control) override;
    void ComboSetDropDownItems(int control, int visibleItems) override;
    void ScrollBarShow(int control, bool show) override;
    void ScrollBarSetRange(int control, int maximum) override;
    int ScrollBarPos(int control) override;
    void ScrollBarSetPos(int control, int position) override;
    void ListInvalidate(int control) override;
    void RepaintNow(WindowHandle window) override;
    void EndMainWindow(WindowHandle window, int value) override;
    bool AskImagePath(WindowHandle owner, bool create, char* path, size_t pathSize) override;

    // Modal dialogs over their logic, and the taken-name question
    // (dialog_host.cpp).
    NameExistsAnswer AskNameExists(WindowHandle owner, NameSide side, char* name) override;
    int RunDialog(WindowHandle owner, DialogLogic& logic) override;

    // The progress window and the message pump (progress_window.cpp).
    void PumpMessages() override;
    WindowHandle OpenProgressWindow(WindowHandle owner, const char* title, bool showBar) override;
    void SetProgressItem(WindowHandle progress, const char* text) override;
    void DrawProgressBar(WindowHandle progress, unsigned percent) override;
    void CloseProgressWindow(WindowHandle progress) override;

private:
    HWND Control(int id) const { return GetDlgItem(main_, id); }

    HINSTANCE instance_;
    HWND main_ = nullptr;
    HWND progress_ = nullptr;
    HCURSOR savedCursor_ = nullptr;
    bool mainEnded_ = false;
    bool closingDropDown_ = false;
};

// The one instance, set by the entry procedure.
Win32WindowSystem& Win32Ws();
void SetWin32Ws(Win32WindowSystem* ws);
