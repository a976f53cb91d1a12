// The Copy command both ways: the selection of the active pane counted,
// confirmed and copied through the selected translator, folders with
// everything below them, with the byte-measured progress window.
#pragma once
#include "core/window_system.h"

// Copies the Mac pane's selection into the PC pane's directory. 1 when the
// copy ran (also when it stopped on a failure or Cancel), 0 when declined at
// the preference dialog or the confirmation, or when nothing was marked.
int CopyMacToPc(WindowHandle window);
// Copies the PC pane's selection into the Mac pane's current folder; answers as above.
int CopyPcToMac(WindowHandle window);

// The PC file list of the main window; item i carries PcItemList index i.
constexpr int kIdPcFileList = 111;
