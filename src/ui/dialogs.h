// The dialogs the main window opens, each answering its end value.
#pragma once
#include "core/window_system.h"

int RunMacCopyPrefs(WindowHandle owner);
int RunPcCopyPrefs(WindowHandle owner);
int RunPcItemInfo(WindowHandle owner);
int RunMacItemInfo(WindowHandle owner);
int RunCreatePcDirectory(WindowHandle owner);
int RunCreateMacFolder(WindowHandle owner);
int RunFormatDialog(WindowHandle owner);
void RunAboutBox(WindowHandle owner);
