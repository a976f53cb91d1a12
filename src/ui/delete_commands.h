// Deleting the selection of one pane.
#pragma once
#include "core/window_system.h"

int DeleteOnPc(WindowHandle window);
int DeleteOnMac(WindowHandle window);
