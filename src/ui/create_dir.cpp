#include "core/status.h"
#include "platform/platform.h"
#include "ui/dialog_logic.h"

void CreateDir::Init(DialogControls& controls)
{
    controls.UseListFont(kIdCreateDirName);
    controls.FilterTyping(kIdCreateDirName, PcNameFilter);
}

int CreateDir::Command(DialogControls& controls, int control, int notification)
{
    if (control == kIdCreateDirName && notification == kNotifyEditChange)
        EnableOkWhenFilled(controls, kIdCreateDirName);
    if (control == kDialogCancel) return 0;
    if (control != kDialogOk) return kDialogKeepRunning;
    const std::string name = controls.Text(kIdCreateDirName, 255);
    std::string path;
    if (!IsPlainPcName(name) || !PcChildPath(directory_, name, &path) || !MakeDir(path.c_str())) {
        if (StatusCode == 0) StatusCode = kStatusPcCreateError;
    }
    return 1;
}
