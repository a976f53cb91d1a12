// Placeholder until the disk image commands land: nothing is opened or made.
#include "ui/disk_images.h"

bool OpenDiskImage(WindowHandle, const char*) { return false; }
bool NewDiskImage(WindowHandle, const char*) { return false; }
