// Puts every global of the shared layer back to its start-up value: status,
// preferences and paths, main-window state, progress, and the window system
// (the headless one).
#pragma once

void ResetCoreState();
