// Stand-ins for the copy preference dialogs and the PC pane's labels,
// replaced by their own files.
#include "core/window_system.h"

void UpdatePcSpaceLabel(WindowHandle) {}
void FillPcDirectoryBox(WindowHandle) {}
