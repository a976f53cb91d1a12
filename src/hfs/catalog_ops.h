// Changes to the volume's contents as the user sees them: folders and files
// created, deleted and renamed, a file's type and creator set. All of them
// work in the Mac pane's current folder and keep the parent's valence and the
// MDB's counters in step. Nothing reaches the medium before FlushVolume.
#pragma once
#include <cstdint>

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
void TouchParentFolder();
int CreateMacFolder(const uint8_t* name);
int CreateMacFile(FileCreateRequest* request);
// Deletes the entry at the pane's opened index: a file with its forks, or
// an empty folder. Returns 1 when it was deleted.
int DeleteMacItem();
int DeleteMacFile(const uint8_t* name, uint32_t parentId);
void DeleteFileRecord(const uint8_t* name);
int DeleteEmptyFolder();
void RenameMacItem(const uint8_t* newName, const MacItem* entry);
void SetTypeCreator(const uint8_t* type, const uint8_t* creator, const uint8_t* name);
