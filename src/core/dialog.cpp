#include "core/dialog.h"

#include "core/window_system.h"

void EnableOkWhenFilled(DialogControls& controls, int field)
{
    controls.Enable(kDialogOk, !controls.Text(field, 256).empty());
}

std::string DialogModel::Text(int control, unsigned maxChars) { return controls[control].text.substr(0, maxChars); }

void DialogModel::SetText(int control, const char* text) { controls[control].text = text ? text : ""; }

void DialogModel::LimitText(int control, unsigned maxChars) { controls[control].limit = maxChars; }

bool DialogModel::Checked(int control) { return controls[control].checked; }

void DialogModel::SetChecked(int control, bool checked) { controls[control].checked = checked; }

void DialogModel::Enable(int control, bool enable) { controls[control].enabled = enable; }

void DialogModel::ComboReset(int control)
{
    controls[control].items.clear();
    controls[control].selection = -1;
}

void DialogModel::ComboAdd(int control, const char* text) { controls[control].items.push_back(text ? text : ""); }

int DialogModel::ComboSelection(int control) { return controls[control].selection; }

void DialogModel::ComboSelect(int control, int index)
{
    Control& box = controls[control];
    box.selection = index >= 0 && static_cast<size_t>(index) < box.items.size() ? index : -1;
}

void DialogModel::UseListFont(int control) { controls[control].listFont = true; }

void DialogModel::UseExtendedUi(int control) { controls[control].extendedUi = true; }

void DialogModel::FilterTyping(int control, CharFilter filter) { controls[control].filter = filter; }

int DialogModel::ShowMessage(const char* text, const char* caption, unsigned style)
{
    return Ws().ShowMessage(owner, text, caption, style);
}

int DialogModel::Run(DialogLogic& logic, const std::vector<DialogStep>& steps)
{
    logic.Init(*this);
    for (const DialogStep& step : steps) {
        Control& c = controls[step.control];
        int notification = kNotifyClicked;
        switch (step.kind) {
        case DialogStep::Clear:
            c.text.clear();
            notification = kNotifyEditChange;
            break;
        case DialogStep::Type:
        case DialogStep::Paste:
            for (char typed : step.text) {
                int ch = static_cast<unsigned char>(typed);
                if (step.kind == DialogStep::Type && c.filter && ch >= 32) ch = c.filter(ch, allowUpper);
                if (ch < 0 || (c.limit && c.text.size() >= c.limit)) continue;
                c.text.push_back(static_cast<char>(ch));
            }
            notification = kNotifyEditChange;
            break;
        case DialogStep::Check:
            c.checked = step.value != 0;
            break;
        case DialogStep::Select:
            ComboSelect(step.control, step.value);
            notification = kNotifySelChange;
            break;
        case DialogStep::Press:
            if (!c.enabled) {
                ++ignoredPresses;
                continue;
            }
            break;
        }
        const int end = logic.Command(*this, step.control, notification);
        if (end != kDialogKeepRunning) return end;
    }
    return logic.Command(*this, kDialogCancel, kNotifyClicked);
}
