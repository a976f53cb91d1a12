// A clean consistency check of a volume in an image file, remembered from one
// command to the next, so that a command writing one file into a big volume
// does not read the whole catalog again when nothing but this program's own
// writes has touched the image since the volume was last found sound.
#pragma once
#include <cstdint>

#include "disk/drive_table.h"

// Whether the volume starting at `volumeBlock` on the image behind `entry`
// was found free of damage by an earlier check, and the image is exactly as
// it was left then. False for any drive that is not a regular image file.
bool CleanCheckRemembered(const DriveEntry* entry, uint32_t volumeBlock);

// Remembers that the volume is free of damage as the image now stands. Call
// it while the image is still open (its lock held), after a check found no
// damage or after writes that all reached the medium; it records nothing
// once a write to the image has failed. Failing to record is harmless: the
// next command checks the volume in full.
void RememberCleanCheck(const DriveEntry* entry, uint32_t volumeBlock);
