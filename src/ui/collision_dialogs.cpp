#include <cstring>

#include "ui/dialog_logic.h"
#include "ui/dialogs.h"

void PCollision::Init(DialogControls& controls)
{
    const int shown = mac_ ? kIdMCollisionName : kIdPCollisionName;
    controls.UseListFont(shown);
    controls.UseListFont(Edit());
    if (mac_)
        controls.LimitText(Edit(), 31);
    else
        controls.FilterTyping(Edit(), PcNameFilter);
    controls.SetText(shown, name_);
}

int PCollision::Command(DialogControls& controls, int control, int notification)
{
    if (control == Edit() && notification == kNotifyEditChange) EnableOkWhenFilled(controls, Edit());
    if (control == kDialogCancel) return 2;
    if (control == (mac_ ? kIdMCollisionSkip : kIdPCollisionSkip)) return 1;
    if (control == (mac_ ? kIdMCollisionOverwrite : kIdPCollisionOverwrite)) return 3;
    if (control != kDialogOk) return kDialogKeepRunning;
    // The dialog opens with OK enabled on an empty field; an empty name is
    // no name to go on with, so the dialog stays.
    const std::string typed = controls.Text(Edit(), mac_ ? 31 : 255);
    if (typed.empty()) return kDialogKeepRunning;
    std::memcpy(name_, typed.c_str(), typed.size() + 1);
    return 0;
}

NameExistsAnswer AskNameExistsInDialog(WindowSystem& ws, WindowHandle owner, NameSide side, char* name)
{
    PCollision dialog(side == NameSide::Mac, name);
    switch (ws.RunDialog(owner, dialog)) {
    case 0: return NameExistsAnswer::NewName;
    case 1: return NameExistsAnswer::Skip;
    case 3: return NameExistsAnswer::Overwrite;
    default: return NameExistsAnswer::Cancel;
    }
}
