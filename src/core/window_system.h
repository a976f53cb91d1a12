// The services of the window system that the command logic uses. The Win32
// layer implements them with real controls; the command-line program and the
// tests implement them with models (scripted answers, recorded calls).
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "core/dialog.h"

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

    // The path of a disk image file to open (`create` false) or to make
    // (`create` true), asked with the system's file dialog: native, into
    // `path`; false when the user cancels.
    virtual bool AskImagePath(WindowHandle owner, bool create, char* path, size_t pathSize) = 0;

    // Runs a modal dialog over `owner` with `logic` answering its commands;
    // answers the dialog's end value.
    virtual int RunDialog(WindowHandle owner, DialogLogic& logic) = 0;

    // List boxes (the two file lists).
    virtual int ListCount(int control) = 0;
    virtual int ListSelectedCount(int control) = 0;
    virtual int ListCaretIndex(int control) = 0;
    virtual int ListFirstSelected(int control) = 0;       // -1 when none
    virtual bool ListItemSelected(int control, int index) = 0;
    virtual intptr_t ListItemData(int control, int index) = 0;  // -1 for a line that is not there
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
    // Opens or closes the drop-down list without a close-up notification:
    // the logic that closes it runs its close-up handling itself.
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

    // The main window's own services. The list font is made once at start-up
    // (false when it cannot be) and put on the lists and boxes; the command
    // buttons get their bitmaps; a box with the extended interface opens its
    // list with the Down key and acts when it closes.
    virtual bool CreateListFont(WindowHandle window) = 0;
    virtual void UseListFont(int control) = 0;
    virtual void RegisterButtonBitmaps() = 0;
    virtual void UseExtendedComboUi(int control) = 0;
    // The control with the keyboard focus (0 when none of the window's), and
    // whether a box's drop-down list is open.
    virtual int FocusedControl() = 0;
    virtual bool ComboDroppedDown(int control) = 0;
    // Makes a box's drop-down list tall enough for `visibleItems` items.
    virtual void ComboSetDropDownItems(int control, int visibleItems) = 0;
    // A horizontal scroll bar control: shown or hidden, its range (set
    // without redrawing) and its position.
    virtual void ScrollBarShow(int control, bool show) = 0;
    virtual void ScrollBarSetRange(int control, int maximum) = 0;
    virtual int ScrollBarPos(int control) = 0;
    virtual void ScrollBarSetPos(int control, int position) = 0;
    // Every line of a list painted again (without erasing first).
    virtual void ListInvalidate(int control) = 0;
    // The window painted at once, before the command goes on.
    virtual void RepaintNow(WindowHandle window) = 0;
    // Ends the main window with `value` and the message loop after it.
    virtual void EndMainWindow(WindowHandle window, int value) = 0;

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

// A window system with no windows. It keeps what the controls would hold
// (list items and their selection, box items, control texts and states, menu
// items and ticks), so the command logic runs whole without a screen; message
// boxes answer with a fixed reply (Yes to questions, OK otherwise) and the last
// one is remembered. The command-line program and the tests start from it.
class HeadlessWindowSystem : public WindowSystem {
public:
    struct ListModel {
        std::vector<intptr_t> items;    // item data, in list order
        std::vector<bool> selected;
        int top = 0;
        int caret = -1;
    };
    struct ComboModel {
        std::vector<std::string> items;
        int selection = -1;
        bool droppedDown = false;
        int dropDownItems = 0;  // lines the open list shows
    };
    struct ScrollBarModel {
        bool shown = false;
        int maximum = 0;
        int position = 0;
    };
    struct MenuEntry {
        int id;
        std::string text;
    };

    int ShowMessage(WindowHandle, const char* text, const char* caption, unsigned style) override;
    // With no one to answer, a taken name cancels the copy.
    NameExistsAnswer AskNameExists(WindowHandle, NameSide, char*) override { return NameExistsAnswer::Cancel; }
    // Answers `imagePathAnswer`; empty: cancelled.
    bool AskImagePath(WindowHandle owner, bool create, char* path, size_t pathSize) override;
    // Runs the next script of `dialogScripts` (none left: the dialog is
    // cancelled at once) on a DialogModel and keeps the session in `dialogRuns`.
    int RunDialog(WindowHandle owner, DialogLogic& logic) override;
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
    void SetBusyCursor(bool) override {}
    void ShowHelp(bool open) override { helpOpen = open; }
    bool CreateListFont(WindowHandle) override { return listFontMade; }
    void UseListFont(int) override {}
    void RegisterButtonBitmaps() override {}
    void UseExtendedComboUi(int) override {}
    int FocusedControl() override { return focus; }
    bool ComboDroppedDown(int control) override { return combos_[control].droppedDown; }
    void ComboSetDropDownItems(int control, int visibleItems) override { combos_[control].dropDownItems = visibleItems; }
    void ScrollBarShow(int control, bool show) override { scrollBars_[control].shown = show; }
    void ScrollBarSetRange(int control, int maximum) override { scrollBars_[control].maximum = maximum; }
    int ScrollBarPos(int control) override { return scrollBars_[control].position; }
    void ScrollBarSetPos(int control, int position) override { scrollBars_[control].position = position; }
    void ListInvalidate(int) override { ++invalidations; }
    void RepaintNow(WindowHandle) override {}
    void EndMainWindow(WindowHandle, int value) override { endValue = value; }
    void PumpMessages() override {}
    WindowHandle OpenProgressWindow(WindowHandle, const char*, bool) override { return nullptr; }
    void SetProgressItem(WindowHandle, const char*) override {}
    void DrawProgressBar(WindowHandle, unsigned) override {}
    void CloseProgressWindow(WindowHandle) override {}

    // The state of the controls, for front ends and tests to set up and read.
    ListModel& List(int control) { return lists_[control]; }
    ComboModel& Combo(int control) { return combos_[control]; }
    const std::string& ControlText(int control) { return texts_[control]; }
    bool ControlEnabled(int control) const;  // true until disabled
    const std::vector<MenuEntry>& Menu(int menu) { return menus_[menu]; }
    ScrollBarModel& ScrollBar(int control) { return scrollBars_[control]; }

    int questionAnswer = kIdYes;  // answer to Yes/No questions
    int okCancelAnswer = kIdOk;   // answer to OK/Cancel questions
    std::deque<std::vector<DialogStep>> dialogScripts;
    std::string imagePathAnswer;
    std::vector<DialogRun> dialogRuns;
    int messageCount = 0;
    char lastText[512] = {};
    char lastCaption[128] = {};
    unsigned lastStyle = 0;
    bool listFontMade = true;  // what CreateListFont answers
    int focus = 0;             // the control FocusedControl answers
    bool helpOpen = false;
    int endValue = -1;         // the main window's end value; -1 while it runs
    int invalidations = 0;

private:
    std::map<int, ListModel> lists_;
    std::map<int, ComboModel> combos_;
    std::map<int, std::string> texts_;
    std::map<int, bool> enabled_;
    std::map<int, std::vector<MenuEntry>> menus_;
    std::map<int, bool> checked_;
    std::map<int, ScrollBarModel> scrollBars_;
};

// The window system in use. Never null: a HeadlessWindowSystem until a front
// end installs its own.
WindowSystem& Ws();
void SetWindowSystem(WindowSystem* ws);  // null restores the headless one, its controls emptied

// Control ids of the main window that the engine touches.
enum : int {
    kIdMacFolderLabel = 113,
    kIdMacFolderBox = 114,
    kIdMacUpButton = 115,
    kIdMacDriveLabel = 116,
    kIdMacDriveBox = 117,
    kIdMacList = 119,
};
