// The desktop program's entry: the system version and error mode, the
// preferences, the main window's class, the main window itself, and on the
// way out the preferences saved and the window's fonts and bitmaps freed.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "core/prefs.h"
#include "disk/drive_table.h"
#include "ui/main_window.h"
#include "ui/program_state.h"
#include "win32/owner_draw.h"
#include "win32/pier.h"
#include "win32/test_hook.h"
#include "win32/text.h"
#include "win32/win32_window_system.h"

namespace {

// The command line's arguments after the program's name, as full paths.
std::vector<std::string> ImageArguments()
{
    std::vector<std::string> paths;
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return paths;
    for (int i = 1; i < count; ++i) {
        wchar_t full[MAX_PATH];
        const DWORD n = GetFullPathNameW(arguments[i], MAX_PATH, full, nullptr);
        paths.push_back(Ansi(n > 0 && n < MAX_PATH ? std::wstring(full, n) : std::wstring(arguments[i])));
    }
    LocalFree(arguments);
    return paths;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR, int)
{
    StartTestHook();
    // Every global at its start value first: the steps below fill them.
    ResetProgramState();
    static Win32WindowSystem windowSystem(instance);
    SetWin32Ws(&windowSystem);
    SetWindowSystem(&windowSystem);

    WindowsVersion = GetVersion();
    // An empty diskette or CD-ROM drive answers with an error code instead
    // of the system's own message box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    SetStartImages(ImageArguments());
    LoadPreferences();
    SetTransferLimit();

    if (!previous) {
        WNDCLASSW pierClass = {};
        pierClass.style = CS_DBLCLKS | CS_SAVEBITS;
        pierClass.lpfnWndProc = DefDlgProcW;
        pierClass.cbClsExtra = 0;
        pierClass.cbWndExtra = DLGWINDOWEXTRA;
        pierClass.hInstance = instance;
        pierClass.hIcon = LoadIconW(instance, L"piericon");
        pierClass.hCursor = nullptr;
        pierClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        pierClass.lpszMenuName = nullptr;
        pierClass.lpszClassName = L"PierClass";
        RegisterClassW(&pierClass);
    }
    DialogBoxParamW(instance, L"HARBOR", nullptr, Pier, 0);

    FinishMainWindow();
    DeleteButtonBitmaps();
    DeleteListFont();
    return 1;
}
