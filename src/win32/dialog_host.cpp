// Placeholder: the dialogs are being written.
#include "win32/win32_window_system.h"

NameExistsAnswer Win32WindowSystem::AskNameExists(WindowHandle, NameSide, char*) { return NameExistsAnswer::Cancel; }
int Win32WindowSystem::RunDialog(WindowHandle, DialogLogic&) { return 0; }
