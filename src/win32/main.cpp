// Placeholder: the entry procedure is being written.
#include <windows.h>

#include "win32/test_hook.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    StartTestHook();
    return 1;
}
