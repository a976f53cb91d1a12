// Changes to the volume's contents as the user sees them: folders and files
// created, deleted and renamed, a file's type and creator set. The core names
// the folder it works in and keeps that folder's valence and the MDB's
// counters in step; the operations the window's commands call work in the
// Mac pane's current folder. Nothing reaches the medium before FlushVolume.
#pragma once
#include <cstdint>

#include "hfs/btree_search.h"
#include "hfs/listing.h"

struct FileCreateRequest {
    uint8_t name[32];        // length-prefixed, Mac characters
    uint8_t finderInfo[16];  // type, creator, Finder flags, icon location, window
    uint32_t created;        // 0: now (both dates)
    uint32_t modified;
};

// A name the catalog may hold: 1 to 31 characters, no colon.
bool IsValidMacName(const uint8_t* name);

uint32_t NextCatalogID();

// The core works in folder `parent`. The operations on a named item answer
// Missing when the folder holds no such item (no file, for the file
// operations; no folder, for DeleteEmptyFolderIn), with nothing changed and
// no status; Failed with StatusCode set. A name that is taken fails with
// StatusCode 8.
void CreateFolderIn(const MacFolder& parent, const uint8_t* name);
void CreateFileIn(const MacFolder& parent, FileCreateRequest* request);
// Frees both forks of the file and removes it.
Lookup DeleteFileIn(const MacFolder& parent, const uint8_t* name);
// Removes the file's records alone (its forks are the caller's business).
Lookup DeleteFileRecordIn(const MacFolder& parent, const uint8_t* name);
// Deletes the folder when it is empty (*deleted then true); a folder that
// still holds items is Found and left alone.
Lookup DeleteEmptyFolderIn(const MacFolder& parent, const uint8_t* name, bool* deleted);
Lookup RenameItemIn(const MacFolder& parent, const uint8_t* oldName, const uint8_t* newName);
Lookup SetTypeCreatorIn(const MacFolder& parent, const uint8_t* name, const uint8_t* type, const uint8_t* creator);

// The same in the Mac pane's current folder; a missing item is StatusCode 6.
void TouchParentFolder();
void CreateMacFolder(const uint8_t* name);
void CreateMacFile(FileCreateRequest* request);
// Deletes the entry at the pane's opened index: a file with its forks, or
// an empty folder. Returns 1 when it was deleted.
int DeleteMacItem();
int DeleteMacFile(const uint8_t* name, uint32_t parentId);
void DeleteFileRecord(const uint8_t* name);
int DeleteEmptyFolder();
void RenameMacItem(const uint8_t* newName, const MacItem* entry);
void SetTypeCreator(const uint8_t* type, const uint8_t* creator, const uint8_t* name);
