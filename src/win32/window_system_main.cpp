// Placeholder: the main window's services are being written.
#include "win32/win32_window_system.h"

namespace {
Win32WindowSystem* g_ws = nullptr;
}

Win32WindowSystem& Win32Ws() { return *g_ws; }
void SetWin32Ws(Win32WindowSystem* ws) { g_ws = ws; }

int Win32WindowSystem::ShowMessage(WindowHandle, const char*, const char*, unsigned) { return kIdOk; }
int Win32WindowSystem::ListCount(int) { return 0; }
int Win32WindowSystem::ListSelectedCount(int) { return 0; }
int Win32WindowSystem::ListCaretIndex(int) { return -1; }
int Win32WindowSystem::ListFirstSelected(int) { return -1; }
bool Win32WindowSystem::ListItemSelected(int, int) { return false; }
intptr_t Win32WindowSystem::ListItemData(int, int) { return -1; }
void Win32WindowSystem::ListSelect(int, int, bool) {}
int Win32WindowSystem::ListTopIndex(int) { return 0; }
void Win32WindowSystem::ListSetTopIndex(int, int) {}
void Win32WindowSystem::ListReset(int) {}
void Win32WindowSystem::ListAddItem(int, intptr_t) {}
int Win32WindowSystem::ComboCount(int) { return 0; }
int Win32WindowSystem::ComboSelection(int) { return -1; }
void Win32WindowSystem::ComboSelect(int, int) {}
int Win32WindowSystem::ComboText(int, int, char* out, int outSize)
{
    if (outSize > 0) out[0] = 0;
    return 0;
}
void Win32WindowSystem::ComboInsertFirst(int, const char*) {}
void Win32WindowSystem::ComboAdd(int, const char*) {}
void Win32WindowSystem::ComboDeleteFirst(int) {}
void Win32WindowSystem::ComboReset(int) {}
void Win32WindowSystem::ComboShowDropDown(int, bool) {}
void Win32WindowSystem::EnableControl(int, bool) {}
void Win32WindowSystem::SetControlText(int, const char*) {}
bool Win32WindowSystem::MenuChecked(int) { return false; }
void Win32WindowSystem::MenuCheck(int, bool) {}
void Win32WindowSystem::MenuInsert(int, int, int, const char*) {}
void Win32WindowSystem::MenuDelete(int, int) {}
void Win32WindowSystem::SetBusyCursor(bool) {}
void Win32WindowSystem::ShowHelp(bool) {}
bool Win32WindowSystem::CreateListFont(WindowHandle) { return true; }
void Win32WindowSystem::UseListFont(int) {}
void Win32WindowSystem::RegisterButtonBitmaps() {}
void Win32WindowSystem::UseExtendedComboUi(int) {}
int Win32WindowSystem::FocusedControl() { return 0; }
bool Win32WindowSystem::ComboDroppedDown(int) { return false; }
void Win32WindowSystem::ComboSetDropDownItems(int, int) {}
void Win32WindowSystem::ScrollBarShow(int, bool) {}
void Win32WindowSystem::ScrollBarSetRange(int, int) {}
int Win32WindowSystem::ScrollBarPos(int) { return 0; }
void Win32WindowSystem::ScrollBarSetPos(int, int) {}
void Win32WindowSystem::ListInvalidate(int) {}
void Win32WindowSystem::RepaintNow(WindowHandle) {}
void Win32WindowSystem::EndMainWindow(WindowHandle, int) {}
bool Win32WindowSystem::AskImagePath(WindowHandle, bool, char*, size_t) { return false; }
