// Stand-ins for the copy preference dialogs and the PC pane's labels,
// replaced by their own files.
#include "core/window_system.h"

int RunMacCopyPrefs(WindowHandle) { return 1; }
int RunPcCopyPrefs(WindowHandle) { return 1; }
void UpdatePcSpaceLabel(WindowHandle) {}
void FillPcDirectoryBox(WindowHandle) {}
