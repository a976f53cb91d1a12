#include "hfs/catalog_ops.h"
#include "hfs/mac_names.h"
#include "ui/dialog_logic.h"

void CreateFldr::Init(DialogControls& controls)
{
    controls.UseListFont(kIdCreateFolderName);
    controls.LimitText(kIdCreateFolderName, 31);
}

int CreateFldr::Command(DialogControls& controls, int control, int notification)
{
    if (control == kIdCreateFolderName && notification == kNotifyEditChange)
        controls.Enable(kDialogOk, !controls.Text(kIdCreateFolderName, 31).empty());
    if (control == kDialogCancel) return 0;
    if (control != kDialogOk) return kDialogKeepRunning;
    uint8_t name[32];
    PcNameToMac(name, controls.Text(kIdCreateFolderName, 31).c_str());
    CreateMacFolder(name);
    return 1;
}
