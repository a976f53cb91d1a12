// Copying trees both ways: the file filters, the bytes a copy counts per
// file, and the walks of a Mac folder into a PC directory and of a PC
// directory into a Mac folder. The walks name their folders and directories
// explicitly and leave the panes alone; mode 0 counts into ProgressFileCount
// and ProgressTotal, mode 1 copies through the selected translator.
//
// Both walks are bounded: the Mac one by the catalog's depth bound and its
// cycle check, the PC one by kPcWalkDepthLimit; neither keeps more than the
// items of the folders on the way down, so memory grows with the depth, not
// with the number of files. A PC link or special file is never entered, read
// or copied.
#pragma once
#include <cstdint>
#include <string>

#include "hfs/listing.h"

// Mac-to-PC filter: type and creator (PC text, compared as Mac names, all
// four characters), and an extension (the part after the name's last '.',
// case ignored). Empty parts pass everything.
struct MacCopyFilter {
    bool on = false;
    char type[5] = {};
    char creator[5] = {};
    char extension[6] = {};
};
// PC-to-Mac filter: the extension after the last '.', case ignored.
struct PcCopyFilter {
    bool on = false;
    char extension[4] = {};
};

bool MacFilePasses(const MacItem& item, const MacCopyFilter& filter);
bool PcFilePasses(const char* name, const PcCopyFilter& filter);
// What a file adds to the byte count of a copy through translator `index`:
// the data fork, the resource fork, or both (MacBinary, BinHex).
uint32_t MacCopyBytes(const MacItem& item, uint16_t index);

// What the caller shows while a walk runs; each may be null.
struct CopyWalkHooks {
    void (*counted)();                    // mode 0: a folder entered, totals grown
    void (*fileStarting)(const char* pcName);
    void (*fileDone)();
};

constexpr uint32_t kPcWalkDepthLimit = 100;  // directories below the one a walk starts in

struct MacCopyWalk {
    int mode = 0;                // 0 counts, 1 copies
    bool makeDirectories = false;  // each folder becomes a PC directory
    MacCopyFilter filter;
    uint16_t translator = 0;     // the byte count's translator
    CopyWalkHooks hooks{};
};
// Walks `folder` and everything below it. Mode 1 copies into the native
// directory `pcDirectory`: with makeDirectories the folder and those below
// become PC directories (names cleaned and clashes settled as for files; an
// existing directory of the name is entered); without, all files land in
// `pcDirectory`. A name clash skipped leaves the folder out. Stops at the
// first failure (StatusCode set; 120 for Cancel).
void WalkMacFolder(const MacCopyWalk& walk, const MacFolder& folder, const std::string& pcDirectory);

struct PcCopyWalk {
    int mode = 0;
    bool makeFolders = false;  // each directory becomes a Mac folder
    PcCopyFilter filter;
    CopyWalkHooks hooks{};
};
// Walks the PC directory `name` (Windows-1252) of the native directory
// `parentDirectory`. Mode 1 copies into the Mac folder `target`: with
// makeFolders each directory becomes a new Mac folder (a name that is taken
// stops the copy with StatusCode 8); the volume is flushed after every file
// and every folder made. The Mac pane's current folder is the one being
// filled while a file is copied, and is put back at the end.
void WalkPcDirectory(const PcCopyWalk& walk, const std::string& parentDirectory, const std::string& name,
                     const MacFolder& target);
