#include "core/status.h"
#include "core/window_system.h"
#include "hfs/catalog_ops.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "ui/dialog_logic.h"

void MacFldrInfo::Init(DialogControls& controls)
{
    controls.UseListFont(kIdMacInfoName);
    controls.UseListFont(kIdMacInfoDate);
    controls.LimitText(kIdMacInfoName, 31);
    controls.SetText(kIdMacInfoName, PcText(item_.name).c_str());
    controls.SetText(kIdMacInfoDate, DosDateText(item_.date).c_str());
}

int MacFldrInfo::Command(DialogControls& controls, int control, int notification)
{
    if (control == kIdMacInfoName && notification == kNotifyEditChange)
        controls.Enable(kDialogOk, !controls.Text(kIdMacInfoName, 31).empty());
    if (control == kDialogCancel) return 0;
    if (control != kDialogOk) return kDialogKeepRunning;
    const std::string name = controls.Text(kIdMacInfoName, 31);
    if (name == PcText(item_.name)) return 0;
    if (controls.ShowMessage("Rename folder?", "Rename Mac Folder", kMbYesNo | kMbIconQuestion) != kIdYes) return 0;
    uint8_t newName[32];
    PcNameToMac(newName, name.c_str());
    RenameMacItem(newName, &item_);
    if (StatusCode != 0) {
        controls.ShowMessage("Could not rename folder.", nullptr, kMbOk | kMbIconExclamation);
        return 0;
    }
    FlushVolume();
    return 1;
}
