// The dialogs the main window's commands and the copies open, each run
// through the window system and answering its end value.
#pragma once
#include <cstdint>

#include "core/window_system.h"

// PREFMAC and PREFPC: 1 when OK stored the settings, 0 when cancelled.
int RunMacCopyPrefs(WindowHandle owner);
int RunPcCopyPrefs(WindowHandle owner);
// DOSINFO or DOSDIRINFO for PcItemList[PcShownIndex]: 1 when it renamed the item.
int RunPcItemInfo(WindowHandle owner);
// MACINFO or MACFLDRINFO for the Mac pane's opened item: 1 when it changed it.
int RunMacItemInfo(WindowHandle owner);
// CREATEDIR in PcDirectory and CREATEFLD in the Mac pane's folder: 1 when
// OK was pressed (StatusCode says whether the creation failed).
int RunCreatePcDirectory(WindowHandle owner);
int RunCreateMacFolder(WindowHandle owner);
// The Format dialog: the DriveTable index chosen (VolumeLabel holds the
// label), or -1. `chosenDrive` (when not -1) is selected when it opens.
int RunFormatDialog(WindowHandle owner, int chosenDrive = -1);
void RunAboutBox(WindowHandle owner);

// The taken-name question as the PCOLLISION or MCOLLISION dialog, for window
// systems that show dialogs.
NameExistsAnswer AskNameExistsInDialog(WindowSystem& ws, WindowHandle owner, NameSide side, char* name);
