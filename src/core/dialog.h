// Modal dialogs as logic apart from their windows. A dialog's logic is a small
// class that fills its controls when the dialog opens and answers each command
// (a button pressed, a field edited, a box's selection changed) with "keep
// running" or the value the dialog ends with. It reaches its controls only
// through DialogControls, so the same logic runs behind a Win32 dialog
// procedure and behind a scripted model in tests.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

// Notification codes a command carries (those of the Win32 controls).
enum : int {
    kNotifyClicked = 0,         // a button, check box or menu item
    kNotifySelChange = 1,       // a list's or drop-down list's selection changed
    kNotifyDoubleClick = 2,     // a list line double-clicked
    kNotifyDropDown = 7,        // a drop-down box's list opens
    kNotifyCloseUp = 8,         // a drop-down box's list closes
    kNotifyEditChange = 0x300,  // an edit field's text changed
};
// Buttons every dialog has.
enum : int { kDialogOk = 1, kDialogCancel = 2 };
// The answer of DialogLogic::Command while the dialog stays open.
constexpr int kDialogKeepRunning = -0x7fffffff;

// What an edit field does with a typed character: the character to insert
// (possibly another one), or -1 when it is swallowed.
using CharFilter = int (*)(int character, bool allowUpper);

class DialogControls {
public:
    virtual ~DialogControls() = default;
    // Copies at most `maxChars` characters of the control's text.
    virtual std::string Text(int control, unsigned maxChars) = 0;
    virtual void SetText(int control, const char* text) = 0;
    // The most characters the user can type into an edit field.
    virtual void LimitText(int control, unsigned maxChars) = 0;
    virtual bool Checked(int control) = 0;
    virtual void SetChecked(int control, bool checked) = 0;
    virtual void Enable(int control, bool enable) = 0;
    virtual void ComboReset(int control) = 0;
    virtual void ComboAdd(int control, const char* text) = 0;
    virtual int ComboSelection(int control) = 0;  // -1 when none
    virtual void ComboSelect(int control, int index) = 0;
    // Shows the control's text in the list font.
    virtual void UseListFont(int control) = 0;
    // A drop-down list box that opens with the Down key, and whose arrow
    // keys move the selection only while it is open.
    virtual void UseExtendedUi(int control) = 0;
    // Typed characters reach the field only through `filter`.
    virtual void FilterTyping(int control, CharFilter filter) = 0;
    // A message box owned by the dialog; answers as WindowSystem::ShowMessage.
    virtual int ShowMessage(const char* text, const char* caption, unsigned style) = 0;
};

class DialogLogic {
public:
    virtual ~DialogLogic() = default;
    // The name of the dialog's template.
    virtual const char* TemplateName() const = 0;
    virtual void Init(DialogControls& controls) = 0;
    // kDialogKeepRunning, or the dialog's end value.
    virtual int Command(DialogControls& controls, int control, int notification) = 0;
};

// OK (1) enabled when the field holds some text, disabled when it is empty.
void EnableOkWhenFilled(DialogControls& controls, int field);

// One step of a scripted dialog session. Typed and pasted text goes after
// what the field holds; Clear empties it.
struct DialogStep {
    enum Kind { Clear, Type, Paste, Check, Select, Press } kind;
    int control;
    std::string text;  // Type, Paste: the characters
    int value = 0;     // Check: 0 or 1; Select: the index
};

// The controls of a dialog as a model: what each holds, its limit, whether it
// is enabled, checked or filtered, and the message boxes shown. Typing obeys
// the length limit and the PC name filter one character at a time, as the
// real edit field does; pasting obeys only the limit.
class DialogModel : public DialogControls {
public:
    struct Control {
        std::string text;
        unsigned limit = 0;  // 0: none
        bool enabled = true;
        bool checked = false;
        bool listFont = false;
        bool extendedUi = false;
        CharFilter filter = nullptr;
        std::vector<std::string> items;
        int selection = -1;
    };

    std::string Text(int control, unsigned maxChars) override;
    void SetText(int control, const char* text) override;
    void LimitText(int control, unsigned maxChars) override;
    bool Checked(int control) override;
    void SetChecked(int control, bool checked) override;
    void Enable(int control, bool enable) override;
    void ComboReset(int control) override;
    void ComboAdd(int control, const char* text) override;
    int ComboSelection(int control) override;
    void ComboSelect(int control, int index) override;
    void UseListFont(int control) override;
    void UseExtendedUi(int control) override;
    void FilterTyping(int control, CharFilter filter) override;
    int ShowMessage(const char* text, const char* caption, unsigned style) override;

    // Runs `logic` from Init through `steps`: each step changes its control
    // and sends the command the control would send. A press of a disabled
    // button does nothing. When the steps run out with the dialog open,
    // Cancel is pressed. Answers the end value.
    int Run(DialogLogic& logic, const std::vector<DialogStep>& steps);

    std::map<int, Control> controls;
    bool allowUpper = false;  // the option handed to the character filters
    void* owner = nullptr;    // the window owning the dialog's message boxes
    unsigned ignoredPresses = 0;
};

// A dialog session the headless window system ran: the template, the steps
// it was given, the end value and the controls as they were at the end.
struct DialogRun {
    std::string templateName;
    int endValue;
    DialogModel model;
};
