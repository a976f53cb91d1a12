// Copying the selection of one pane into the other.
#pragma once
#include "core/window_system.h"

int CopyMacToPc(WindowHandle window);
int CopyPcToMac(WindowHandle window);
