// State of the one main window that the engine and the transfer operations
// read: the owner of their message boxes, the drive in use, the sort orders
// and whether listings may touch the controls.
#pragma once
#include <cstdint>

#include "core/window_system.h"

extern WindowHandle MainWindow;
extern uint16_t ActivePane;      // 1 PC pane, 0 Mac pane
extern uint16_t MacSortId;       // 250 name, 251 type, 252 creator, 253 size, 254 date
extern uint16_t PcSortId;
extern uint16_t MacDriveIndex;   // index into DriveTable of the drive in use
extern uint32_t DisplayUpdates;  // 0 while tree walks list folders unseen

enum : uint16_t {
    kSortByName = 250,
    kSortByType = 251,
    kSortByCreator = 252,
    kSortBySize = 253,
    kSortByDate = 254,
};
