// The identifiers of the main window: its controls, its commands, its menus
// (by position in the menu bar) and the notification codes its controls
// send. The window layer and its resources use the same numbers.
#pragma once
#include "core/dialog.h"  // the notification codes
#include "core/window_system.h"

// Controls. The Mac pane's (113 to 119) are in core/window_system.h, since
// the engine touches them.
enum : int {
    kIdPcDirectoryLabel = 105,
    kIdPcDirectoryBox = 106,
    kIdPcUpButton = 107,
    kIdPcDriveLabel = 108,
    kIdPcDriveBox = 109,
    kIdPcHeader = 110,
    kIdPcList = 111,
    kIdPcScrollBar = 112,
    kIdMacHeader = 118,
};

// Commands: the four file commands (buttons and File menu), the menus' items
// and the keys of the dialog-based window (1 Enter, 2 Esc and the close box).
enum : int {
    kCmdEnter = 1,
    kCmdExit = 2,
    kCmdSelectAll = 200,
    kCmdDeselectAll = 201,
    kCmdFormat = 210,
    kCmdAbout = 220,
    kCmdHelp = 221,
    kCmdSortFirst = 250,  // 250 to 254: the Sort By items (core/main_state.h names them)
    kCmdSortLast = 254,
    kCmdMacCopyPrefs = 270,
    kCmdPcCopyPrefs = 271,
    kCmdSavePrefs = 272,
    kCmdCopyPrefs = 273,
    kCmdAllowUpper = 274,
    kCmdCopy = 5000,
    kCmdNew = 5001,
    kCmdDelete = 5002,
    kCmdInfo = 5003,
    // The File menu's disk image items: an image file joins the Mac Drive box.
    kCmdOpenImage = 5010,
    kCmdNewImage = 5011,
};

// The menus of the menu bar, by position.
enum : int {
    kMenuFile = 0,
    kMenuEdit = 1,
    kMenuSortBy = 2,
    kMenuOptions = 3,
    kMenuUtilities = 4,
    kMenuHelp = 5,
};

// Horizontal scroll requests.
enum : int {
    kScrollLineLeft = 0,
    kScrollLineRight = 1,
    kScrollPageLeft = 2,
    kScrollPageRight = 3,
    kScrollThumbPosition = 4,
    kScrollThumbTrack = 5,
    kScrollEnd = 8,
};
