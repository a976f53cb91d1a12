// Placeholder: the progress window is being written.
#include "win32/win32_window_system.h"

void Win32WindowSystem::PumpMessages() {}
WindowHandle Win32WindowSystem::OpenProgressWindow(WindowHandle, const char*, bool) { return nullptr; }
void Win32WindowSystem::SetProgressItem(WindowHandle, const char*) {}
void Win32WindowSystem::DrawProgressBar(WindowHandle, unsigned) {}
void Win32WindowSystem::CloseProgressWindow(WindowHandle) {}
