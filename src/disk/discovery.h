// Finding the drives that may hold Mac volumes, and the two drive boxes.
#pragma once
#include "core/window_system.h"

void DiscoverDrives();
void FillMacDriveBox(WindowHandle window);
