// Choosing a Mac drive (the pane then lists its volumes), dropping it, and
// the report at the end of a command that may drop it.
#include <cstring>

#include "core/main_state.h"
#include "core/status.h"
#include "disk/discovery.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/listing.h"
#include "hfs/volume.h"

namespace {

const char kImageInUseText[] =
    "This disk image is in use by another program. Close it there, then choose the drive again.";

}  // namespace

bool UseMacDrive(WindowHandle window, unsigned index)
{
    const int used = UseImageDrive(index < DriveCount ? &DriveTable[index] : nullptr);
    if (used == 0) return true;
    if (used == kImageInUse) {
        Ws().ShowMessage(window, kImageInUseText, "Disk Image In Use", kMbOk | kMbIconExclamation);
        StatusCode = kStatusCancelled;  // said already
    } else {
        StatusCode = kStatusReadError;
    }
    return false;
}

void SelectMacDrive(WindowHandle window)
{
    WindowSystem& ws = Ws();
    ws.ListReset(kIdMacList);
    ws.EnableControl(kIdMacUpButton, false);
    ws.SetControlText(kIdMacDriveLabel, "Mac Drive:");
    FreeBlockCache();
    MacVolume = MacVolumeState{};
    FreeMacItemList();
    MacPaneState.parentId = 0;
    if (!UseMacDrive(window, MacDriveIndex)) return;
    if (!StartVolumeList()) return;
    ScanVolumes();
    if (StatusCode != 0) return;
    for (unsigned i = 0; i < MacPaneState.count; ++i) ws.ListAddItem(kIdMacList, static_cast<intptr_t>(i));
    ws.EnableControl(kIdMacFolderBox, true);
}

void ResetMacPane(WindowHandle window)
{
    WindowSystem& ws = Ws();
    FreeBlockCache();
    // No drive is chosen any more: other programs may have its image.
    ReleaseListedImages();
    ws.ListReset(kIdMacList);
    ws.ComboReset(kIdMacFolderBox);
    ws.EnableControl(kIdMacFolderBox, false);
    ws.ComboReset(kIdMacDriveBox);
    FreeMacItemList();
    MacPaneState.parentId = 0;
    FillMacDriveBox(window);
    ws.EnableControl(kIdMacUpButton, false);
}

void ReportStatus(WindowHandle ownerWindow)
{
    if (StatusCode == 0) return;
    char text[96];
    if (StatusMessage(StatusCode, text, sizeof text))
        Ws().ShowMessage(ownerWindow, text, nullptr, kMbOk | kMbIconExclamation);
    StatusCode = 0;
    if (DiscardVolumeChanges() < 0) {
        StatusCode = 0;
        ResetMacPane(ownerWindow);
    }
}
