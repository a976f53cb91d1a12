// Opening a disk image as the Mac drive and finding things on its volumes by
// path, for front ends without a window (the command-line program, tests).
// Paths are Windows-1252 text, folders separated by ':' from the volume's
// root; a leading ':' is allowed, and ":" or "" is the root.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "hfs/btree_search.h"
#include "hfs/volume.h"

// Makes the image at `nativePath` the only drive and the drive in use, and
// lists its volumes in the Mac pane. With `writable` the image is opened for
// writing when the file allows it. False with StatusCode set on failure
// (3 when the file cannot be opened or read, 7 when it holds no volume).
bool OpenImageAsMacDrive(const char* nativePath, bool writable, uint32_t sectorSize = 512);
// Whether the last OpenImageAsMacDrive failed because another program held
// the image (its lock did not come free in time).
bool MacDriveWasInUse();
// Opens volume `index` (0-based) of the listed volumes: the alternate-MDB
// check, the open and the root listing. Without `listRoot` the root becomes
// the current folder unlisted (see EnterMacFolderUnlisted). When the drive
// can be written, the volume is checked first: damage that a write could
// spread or build on makes the drive read only for as long as the volume is
// open, and WriteBlockers() says why.
bool OpenListedVolume(unsigned index, bool listRoot = true);
// The check's problems that made the open volume read only (Windows-1252
// text); empty when there were none.
const std::vector<std::string>& WriteBlockers();
// Drops the volume, the drive and the image.
void CloseMacDrive();

struct MacPathTarget {
    uint32_t parentId;       // the parent folder of the item
    uint8_t name[32];        // the item's name (Mac characters)
    uint16_t kind;           // kItemFolder or kItemFile
    uint32_t id;             // folder ID or file number
};

// Finds the item at `path` on the open volume, and (when `parent` is given)
// the folder that holds it; the root is its own parent. Missing when a path
// component does not exist or a file is used as a folder.
Lookup FindMacPath(const char* path, MacPathTarget* out, MacPathTarget* parent = nullptr);
// FindMacPath as true when found; a missing item is StatusCode 6.
bool ResolveMacPath(const char* path, MacPathTarget* out, MacPathTarget* parent = nullptr);
// Makes `folder` the Mac pane's current folder and lists it.
bool ShowMacFolder(const MacPathTarget& folder);
// Makes `folder` the current folder without listing it, for commands that
// only look names up in it and create items there: their cost then grows
// with the log of the folder's size, not with the size. The pane holds no
// items afterwards.
void EnterMacFolderUnlisted(const MacPathTarget& folder);
// Looks `name` (Mac characters) up in folder `folderId` by its catalog key
// (*out filled when found).
Lookup FindMacItem(uint32_t folderId, const uint8_t* name, MacPathTarget* out);
// Splits a path into its non-empty components.
std::vector<std::string> SplitMacPath(const char* path);
