// Placeholder: the test hook is being written.
#include "win32/test_hook.h"

void StartTestHook() {}
bool TestHookOn() { return false; }
void LogCommand(int, unsigned) {}
void LogMessageOpen(const char*, const char*, unsigned) {}
void LogMessageAnswer(int) {}
void LogDialog(HWND, const char*, const char*, int) {}
void LogMainWindow(HWND, const char*) {}
void LogProgress(const char*, const char*) {}
void LogEvent(const char*, const char*) {}
