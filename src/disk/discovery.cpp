#include "disk/discovery.h"

#include "disk/drive_table.h"

void FillMacDriveBox(WindowHandle window)
{
    WindowSystem& ws = Ws();
    ws.SetControlText(kIdMacDriveLabel, "Mac Drive:");
    if (DriveCount == 0)
        ws.ShowMessage(window, "Can't find any Mac compatible drives.", nullptr, kMbOk | kMbIconNone);
    for (uint32_t i = 0; i < DriveCount; ++i) ws.ComboAdd(kIdMacDriveBox, DriveTable[i].Name);
}
