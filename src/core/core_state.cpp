#include "core/core_state.h"

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/progress.h"
#include "core/status.h"
#include "core/window_system.h"

void ResetCoreState()
{
    StatusCode = 0;
    LastCorruption = nullptr;
    Prefs = PrefsRecord{};
    CurrentOptions = OperationOptions{};
    IniPath[0] = FtmPath[0] = HelpPath[0] = 0;
    WindowsVersion = 0;
    MainWindow = nullptr;
    ActivePane = 1;
    MacSortId = kSortByName;
    PcSortId = kSortByName;
    MacDriveIndex = 0;
    DisplayUpdates = 1;
    ProgressWindow = nullptr;
    ProgressTotal = 0;
    ProgressDone = 0;
    ProgressFileCount = 0;
    ProgressTitle = nullptr;
    WaitCursorEnabled = true;
    SetWindowSystem(nullptr);
}
