// The tree walks of the Delete command: a PC directory or a Mac folder
// counted (mode 0) or emptied from the bottom up (mode 1). The selected
// items themselves are the command's business (ui/delete_commands.h).
//
// Both walks keep their own stack, so their memory grows with the depth of
// the tree and the size of the folders on the way down, never with recursion
// into data a medium supplied. A PC walk never follows a link: a link is
// removed as a name, and what it points to is not touched.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "hfs/listing.h"

enum : unsigned { kDeleteCount = 0, kDeleteRemove = 1 };

// The deepest a PC walk goes below the directory it starts in. Deeper
// directories are not entered (StatusCode 105): a bind mount can make a
// tree without end, and paths that long reach no system's limit anyway.
constexpr unsigned kPcDeleteDepthLimit = 128;

struct DeleteWalk {
    unsigned mode = kDeleteCount;
    // Mode 0: what the walks found so far (files, and on the PC links and
    // other names, which are removed as files are), and their bytes: the PC
    // size, or both Mac forks.
    uint32_t files = 0;
    uint64_t bytes = 0;
    // Mode 0: called as each directory or folder is entered, to show the
    // counts so far.
    std::function<void(const DeleteWalk&)> entered;
    // PC, mode 1: names that could not be removed (a directory left because
    // something inside it stayed is not counted again), and the first of
    // them as a path below the pane's directory, in Windows-1252.
    uint32_t notDeleted = 0;
    std::string firstNotDeleted;
};

// Removes one PC name as what it is, never through a link: a file, a link,
// a FIFO or socket by unlinking it (a link to a directory, which Windows
// keeps as a directory entry, by removing that entry), a directory when it
// is empty. False when it is still there.
bool RemovePcName(const std::string& path, uint16_t kind);

// Walks everything inside the PC directory at the native path `directory`;
// `shown` is its path below the pane's directory, in Windows-1252, for the
// failure message. Mode 1 removes it all, deepest first, goes on past a name
// that cannot be removed (counted in the walk), and leaves `directory`
// itself. A directory that cannot be read is StatusCode 105 and ends the
// walk. Pumps messages before each item and stops on a nonzero StatusCode
// (120 after Cancel) after the current item; mode 1 advances the progress
// bar by one per item removed.
void WalkPcDelete(DeleteWalk* walk, const std::string& directory, const std::string& shown);

// Walks everything inside `folder` of the open volume, bounded by the
// catalog's depth and with no folder met twice (FolderWalk); invisible
// files are walked too, since a folder holding one cannot be removed. Each
// folder works from the listing taken when it was entered. Mode 1 deletes
// every item of a folder after the folders inside it were emptied, writes
// the volume back after every 16th item of a folder and when a folder is
// done, and leaves `folder` itself. The first failure stops the walk with
// StatusCode set; pumps and progress as on the PC side.
void WalkMacDelete(DeleteWalk* walk, const MacFolder& folder);
