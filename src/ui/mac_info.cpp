#include "core/status.h"
#include "core/window_system.h"
#include "hfs/catalog_ops.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "translate/registry.h"
#include "ui/dialog_logic.h"

std::string PcText(const uint8_t* macName)
{
    char text[64];
    MacNameToPc(text, macName, true);
    return text;
}

namespace {

bool FilledForOk(DialogControls& controls)
{
    return !controls.Text(kIdMacInfoName, 31).empty() && controls.Text(kIdMacInfoType, 4).size() == 4 &&
           controls.Text(kIdMacInfoCreator, 4).size() == 4;
}

}  // namespace

void MacInfo::Init(DialogControls& controls)
{
    for (int id : {kIdMacInfoName, kIdMacInfoType, kIdMacInfoCreator, kIdMacInfoDataSize, kIdMacInfoRsrcSize,
                   kIdMacInfoDate})
        controls.UseListFont(id);
    controls.LimitText(kIdMacInfoName, 31);
    controls.LimitText(kIdMacInfoType, 4);
    controls.LimitText(kIdMacInfoCreator, 4);
    controls.SetText(kIdMacInfoName, PcText(item_.name).c_str());
    controls.SetText(kIdMacInfoType, PcText(item_.type).c_str());
    controls.SetText(kIdMacInfoCreator, PcText(item_.creator).c_str());
    controls.SetText(kIdMacInfoDataSize, ByteCountText(item_.size).c_str());
    controls.SetText(kIdMacInfoRsrcSize, ByteCountText(item_.resourceSize).c_str());
    controls.SetText(kIdMacInfoDate, DosDateText(item_.date).c_str());
}

int MacInfo::Command(DialogControls& controls, int control, int notification)
{
    if (notification == kNotifyEditChange &&
        (control == kIdMacInfoName || control == kIdMacInfoType || control == kIdMacInfoCreator))
        controls.Enable(kDialogOk, FilledForOk(controls));
    if (control == kDialogCancel) return 0;
    if (control != kDialogOk) return kDialogKeepRunning;

    const std::string name = controls.Text(kIdMacInfoName, 31);
    const std::string type = controls.Text(kIdMacInfoType, 4);
    const std::string creator = controls.Text(kIdMacInfoCreator, 4);
    const bool nameChanged = name != PcText(item_.name);
    const bool typeChanged = type != PcText(item_.type);
    const bool creatorChanged = creator != PcText(item_.creator);
    if (!nameChanged && !typeChanged && !creatorChanged) return 0;

    std::string question = nameChanged ? "Rename this file?" : "";
    if (typeChanged) question += "\nChange file type?";
    if (creatorChanged) question += "\nChange file creator?";
    if (controls.ShowMessage(question.c_str(), "Change Mac File Info", kMbYesNo | kMbIconQuestion) != kIdYes) return 0;

    uint8_t newName[32];
    PcNameToMac(newName, name.c_str());
    uint8_t newType[4], newCreator[4];
    PutMacCode(newType, type.c_str());
    PutMacCode(newCreator, creator.c_str());
    // Type and creator first, while the file still has the name it is found by.
    if (typeChanged || creatorChanged) SetTypeCreator(newType, newCreator, item_.name);
    if (nameChanged) RenameMacItem(newName, &item_);
    if (StatusCode != 0) {
        controls.ShowMessage("Could not change file info", nullptr, kMbOk | kMbIconExclamation);
        return 0;
    }
    FlushVolume();
    return 1;
}
