// The procedure of the main window (the HARBOR dialog).
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Image files to open once the window is up: the command line's, as full
// paths (taken before the preferences may move the current directory).
void SetStartImages(std::vector<std::string> paths);

INT_PTR CALLBACK Pier(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
