// The services of the window system that the command logic uses. The Win32
// layer implements them with real controls; the command-line program and the
// tests implement them with models (scripted answers, recorded calls).
#pragma once
#include <cstdint>

// Message box styles (combinable: one button set, one icon).
enum : unsigned {
    kMbOk = 0x0,
    kMbOkCancel = 0x1,
    kMbYesNo = 0x4,
    kMbIconNone = 0x0,
    kMbIconStop = 0x10,
    kMbIconExclamation = 0x30,
    kMbIconQuestion = 0x20,
};
// Message box answers.
enum : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

using WindowHandle = void*;

// "This name exists: overwrite, rename, skip or cancel?", asked when a copied
// item's name is taken on one side.
enum class NameSide { Pc, Mac };
enum class NameExistsAnswer { NewName, Skip, Cancel, Overwrite };

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // caption null: the system's default caption ("Error").
    virtual int ShowMessage(WindowHandle owner, const char* text, const char* caption, unsigned style) = 0;
    // The question about a taken name. `name` holds it, zero-terminated
    // Windows-1252 (a 256-byte buffer); with NewName the answer has put the
    // new name there: not empty, at most 255 characters on the PC side and
    // 31 on the Mac side.
    virtual NameExistsAnswer AskNameExists(WindowHandle owner, NameSide side, char* name) = 0;
    // "Are you sure?" with OK and Cancel: true for OK. A message box unless
    // the window system has its own way of asking.
    virtual bool Confirm(WindowHandle owner, const char* text, const char* caption)
    {
        return ShowMessage(owner, text, caption, kMbOkCancel | kMbIconExclamation) == kIdOk;
    }

    // List boxes (the two file lists).
    virtual int ListCount(int control) = 0;
    virtual int ListSelectedCount(int control) = 0;
    virtual int ListCaretIndex(int control) = 0;
    virtual int ListFirstSelected(int control) = 0;       // -1 when none
    virtual void ListSelect(int control, int index, bool selected) = 0;  // index -1: all items
    virtual int ListTopIndex(int control) = 0;
    virtual void ListSetTopIndex(int control, int index) = 0;
    virtual void ListReset(int control) = 0;
    virtual void ListAddItem(int control, intptr_t itemData) = 0;

    // Combo boxes (drive and path boxes).
    virtual int ComboCount(int control) = 0;
    virtual int ComboSelection(int control) = 0;          // -1 when none
    virtual void ComboSelect(int control, int index) = 0;  // -1 clears the selection
    virtual int ComboText(int control, int index, char* out, int outSize) = 0;
    virtual void ComboInsertFirst(int control, const char* text) = 0;
    virtual void ComboAdd(int control, const char* text) = 0;
    virtual void ComboDeleteFirst(int control) = 0;
    virtual void ComboReset(int control) = 0;
    virtual void ComboShowDropDown(int control, bool show) = 0;

    virtual void EnableControl(int control, bool enable) = 0;
    virtual void SetControlText(int control, const char* text) = 0;

    // Menus.
    virtual bool MenuChecked(int id) = 0;
    virtual void MenuCheck(int id, bool checked) = 0;
    virtual void MenuInsert(int menu, int position, int id, const char* text) = 0;
    virtual void MenuDelete(int menu, int id) = 0;

    virtual void SetBusyCursor(bool busy) = 0;
    virtual void ShowHelp(bool open) = 0;

    // Lets the window system process pending input during long work.
    virtual void PumpMessages() = 0;

    // The progress window; its state (total, done, title) is kept by
    // ui/progress.h. Open answers the new window, or null when this window
    // system shows none; the window disables `owner` until it is closed.
    virtual WindowHandle OpenProgressWindow(WindowHandle owner, const char* title, bool showBar) = 0;
    virtual void SetProgressItem(WindowHandle progress, const char* text) = 0;  // the item's name line
    virtual void DrawProgressBar(WindowHandle progress, unsigned percent) = 0;
    virtual void CloseProgressWindow(WindowHandle progress) = 0;
};

// A window system with no windows: message boxes answer with a fixed reply
// (Yes to questions, OK otherwise) and remember the last text; every control
// operation does nothing. The command-line program and tests start from it.
class HeadlessWindowSystem : public WindowSystem {
public:
    int ShowMessage(WindowHandle, const char* text, const char* caption, unsigned style) override;
    // With no one to answer, a taken name cancels the copy.
    NameExistsAnswer AskNameExists(WindowHandle, NameSide, char*) override { return NameExistsAnswer::Cancel; }
    int ListCount(int) override { return 0; }
    int ListSelectedCount(int) override { return 0; }
    int ListCaretIndex(int) override { return -1; }
    int ListFirstSelected(int) override { return -1; }
    void ListSelect(int, int, bool) override {}
    int ListTopIndex(int) override { return 0; }
    void ListSetTopIndex(int, int) override {}
    void ListReset(int) override {}
    void ListAddItem(int, intptr_t) override {}
    int ComboCount(int) override { return 0; }
    int ComboSelection(int) override { return -1; }
    void ComboSelect(int, int) override {}
    int ComboText(int, int, char* out, int outSize) override;
    void ComboInsertFirst(int, const char*) override {}
    void ComboAdd(int, const char*) override {}
    void ComboDeleteFirst(int) override {}
    void ComboReset(int) override {}
    void ComboShowDropDown(int, bool) override {}
    void EnableControl(int, bool) override {}
    void SetControlText(int, const char*) override {}
    bool MenuChecked(int) override { return false; }
    void MenuCheck(int, bool) override {}
    void MenuInsert(int, int, int, const char*) override {}
    void MenuDelete(int, int) override {}
    void SetBusyCursor(bool) override {}
    void ShowHelp(bool) override {}
    void PumpMessages() override {}
    WindowHandle OpenProgressWindow(WindowHandle, const char*, bool) override { return nullptr; }
    void SetProgressItem(WindowHandle, const char*) override {}
    void DrawProgressBar(WindowHandle, unsigned) override {}
    void CloseProgressWindow(WindowHandle) override {}

    int questionAnswer = kIdYes;  // answer to Yes/No questions
    int messageCount = 0;
    char lastText[512] = {};
    char lastCaption[128] = {};
    unsigned lastStyle = 0;
};

// The window system in use. Never null: a HeadlessWindowSystem until a front
// end installs its own.
WindowSystem& Ws();
void SetWindowSystem(WindowSystem* ws);  // null restores the headless one

// Control ids of the main window that the engine touches.
enum : int {
    kIdMacFolderLabel = 113,
    kIdMacFolderBox = 114,
    kIdMacUpButton = 115,
    kIdMacDriveLabel = 116,
    kIdMacDriveBox = 117,
    kIdMacList = 119,
};
