// Disk image files opened or made from the desktop program's File menu, its
// command line and files dropped on its window. An image joins the drive
// table and the Mac Drive box, and the "Disk Images" list of PIER.INI so
// that the next start finds it again.
#pragma once
#include "core/window_system.h"

// Opens the image file `path` (native) as a Mac drive, chooses it in the Mac
// Drive box and lists its volumes. An image listed already is chosen again,
// not added twice. False, after a message, when it cannot be opened.
bool OpenDiskImage(WindowHandle window, const char* path);
// Makes a blank 1.44 MB image file at `path` (a name that exists already is
// refused: nothing is ever replaced), adds it as above without listing it
// (it holds no volume yet) and runs the Format dialog with it chosen. False,
// after a message, when the file cannot be made.
bool NewDiskImage(WindowHandle window, const char* path);
