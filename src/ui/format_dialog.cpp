#include "core/status.h"
#include "core/window_system.h"
#include "disk/discovery.h"
#include "hfs/format.h"
#include "ui/dialog_logic.h"

void FormatDialog::Init(DialogControls& controls)
{
    controls.UseExtendedUi(kIdFormatDriveBox);
    controls.UseListFont(kIdFormatDriveBox);
    controls.UseListFont(kIdFormatLabel);
    controls.LimitText(kIdFormatLabel, 27);
    controls.SetText(kIdFormatLabel, "Untitled");
    FillMacDriveBox(controls);
    if (chosenDrive >= 0) controls.ComboSelect(kIdFormatDriveBox, chosenDrive);
}

int FormatDialog::Command(DialogControls& controls, int control, int)
{
    if (control == kDialogCancel) return -1;
    if (control != kDialogOk) return kDialogKeepRunning;
    const int drive = controls.ComboSelection(kIdFormatDriveBox);
    if (drive < 0) {
        controls.ShowMessage("First select a drive from the \"Mac Drive\" box.", "No Drive Selected", kMbOk);
        return kDialogKeepRunning;
    }
    const std::string label = controls.Text(kIdFormatLabel, 27);
    if (label.empty()) {
        controls.ShowMessage("First enter a volume label.", "No Volume Label", kMbOk);
        return kDialogKeepRunning;
    }
    // A colon cannot stand in a Mac name; the label stays to be mended.
    const uint32_t saved = StatusCode;
    StatusCode = 0;
    const bool taken = SetVolumeLabel(label.c_str());
    StatusCode = saved;
    if (!taken) {
        controls.ShowMessage("A volume label cannot hold a colon.", "No Volume Label", kMbOk);
        return kDialogKeepRunning;
    }
    return drive;
}
