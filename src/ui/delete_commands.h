// The Delete command of each pane: the selected files, and directories or
// folders with everything below them. Counts what is selected, warns about
// directories, asks for confirmation, empties the directories from the
// bottom up and removes the selected items, with a progress bar counting
// items. The Mac side writes the volume back at intervals and at the end, so
// a failure or Cancel leaves what the last write-back held.
//
// Both answer 0 when the pane's list is empty or the user declined, else 1;
// the pane has then been refreshed and the status reported.
#pragma once
#include "core/window_system.h"

int DeleteOnPc(WindowHandle window);
int DeleteOnMac(WindowHandle window);

// The PC pane's file list.
constexpr int kPcListControl = 111;
