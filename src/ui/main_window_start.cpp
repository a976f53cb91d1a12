// The main window's start-up once it exists, and its way out.
#include "core/main_state.h"
#include "core/status.h"
#include "disk/discovery.h"
#include "hfs/volume.h"
#include "platform/platform.h"
#include "translate/registry.h"
#include "ui/main_window.h"
#include "ui/main_window_ids.h"
#include "ui/pc_pane.h"
#include "ui/prefs_save.h"

namespace {

// Start-up failed: the window ends (2) and the panes are freed.
int EndProgram(WindowHandle window)
{
    Ws().EndMainWindow(window, 2);
    ReleasePanes();
    return 0;
}

int EndAfterReport(WindowHandle window)
{
    ReportStatus(window);
    return EndProgram(window);
}

}  // namespace

int StartMainWindow(WindowHandle window)
{
    WindowSystem& ws = Ws();
    if (!ws.CreateListFont(window)) {
        ws.ShowMessage(nullptr, "Initialization error.", nullptr, kMbOk | kMbIconExclamation);
        return EndProgram(window);
    }
    // The pane starts where the process was started (or where WorkingDir put it).
    if (PcDirectory.empty()) {
        char dir[1024];
        if (GetCurrentDir(dir, sizeof dir)) PcDirectory = dir;
    }
    FillPcDriveBox(window);
    MainWindow = window;
    const int fontControls[] = {kIdPcList, kIdMacList, kIdPcDirectoryBox, kIdMacFolderBox, kIdPcDriveBox, kIdMacDriveBox};
    for (int control : fontControls) ws.UseListFont(control);
    ApplyMenuPrefs(true);
    RefreshPcList(window);
    if (StatusCode != 0) return EndAfterReport(window);
    DiscoverDrives();
    if (StatusCode != 0) return EndAfterReport(window);
    ResetMacPane(window);
    if (StatusCode != 0) return EndAfterReport(window);
    RegisterAllTranslators();
    ws.RegisterButtonBitmaps();
    const int boxes[] = {kIdMacDriveBox, kIdPcDriveBox, kIdMacFolderBox, kIdPcDirectoryBox};
    for (int control : boxes) ws.UseExtendedComboUi(control);
    ActivePane = 1;
    SetActivePane(0);
    return 1;
}

void ExitMainWindow(WindowHandle window)
{
    WindowSystem& ws = Ws();
    ws.ShowHelp(false);
    ws.EndMainWindow(window, 2);
    ReleasePanes();
}

void FinishMainWindow() { SavePreferences(); }
