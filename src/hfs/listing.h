// Folders as read from the medium: the items of one folder into a list the
// caller owns, the bounded walk down a tree of folders, and the Mac pane's
// contents (the volumes of the drive in use, or the items of one folder).
// The pane itself (its order, its lines, the moves between folders) is
// ui/mac_pane.h.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

enum : uint16_t { kItemFolder = 1, kItemFile = 2, kItemVolume = 3 };

struct MacItem {
    uint32_t id;             // folder ID or file number
    uint32_t size;           // folder: valence; file: data fork length; volume: partition start
    uint32_t resourceSize;   // file: resource fork length; volume: size in 512-byte blocks
    uint32_t date;           // modification date, packed local DOS form
    uint16_t kind;
    uint8_t type[5];         // length byte 4 and the four characters (files)
    uint8_t creator[5];
    uint8_t finderFlags[2];  // files: Finder flags as stored
    uint8_t name[32];        // length-prefixed, Mac characters
    uint32_t modified;       // folders and files: modification date as stored (MacDate)
};

// A folder as the catalog keys it: its own record under (parentId, name),
// its items under its ID.
struct MacFolder {
    uint32_t parentId;
    uint8_t name[32];        // length-prefixed, Mac characters
    uint32_t id;
};

// The Mac pane's current folder.
MacFolder PaneFolder();

struct MacPaneStateRecord {
    uint8_t name[32];        // the current folder's name
    uint32_t parentId;       // 1 at the root; 0 while the pane lists volumes
    uint32_t folderId;       // 2 for the root; 1 for the level above it
    uint16_t count;          // entries in `items`; before a build, the number expected
    uint16_t openedIndex;    // the entry OpenMacFolder opens
    MacItem** items;
};

extern MacPaneStateRecord MacPaneState;

void FreeMacItemList();
// Frees the list and makes room for `capacity` entries, none filled. False
// with StatusCode 2 when memory runs out.
bool StartMacItemList(uint32_t capacity);
// Reads the items of the folder whose thread record is record `startIndex`
// of leaf `startNode` into `items` (the caller's, appended to), at most
// `limit` of them, in catalog order; invisible files are left out when
// HideInvisible is on. False on failure (StatusCode set), with the items
// read before it in `items`.
bool ReadFolderItems(uint32_t startNode, uint16_t startIndex, uint16_t limit, std::vector<MacItem>* items);
// The items of folder `folderId`, at most `limit` (its valence), as above.
// A folder without its thread record is damage.
bool ListFolder(uint32_t folderId, uint16_t limit, std::vector<MacItem>* items);
// ReadFolderItems into MacPaneState.items from entry 0 (the list has room
// for `limit`). Returns the number read.
uint16_t ReadMacFolderItems(uint32_t startNode, uint16_t startIndex, uint16_t limit);

// The first record of `folderId` (its thread record), as (node, index).
bool FindFolderStart(uint32_t folderId, uint32_t* node, uint16_t* index);
// The valence of the folder record (parentId, name); false on failure.
bool FolderValence(uint32_t parentId, const uint8_t* name, uint16_t* valence);
// The parent's ID and the name (length-prefixed) in the thread record of
// `folderId`; `name` has room for 32 bytes. False on failure (StatusCode 6
// for a record that is not a folder's thread).
bool ReadFolderThread(uint32_t folderId, uint32_t* parentId, uint8_t* name);

// A walk down a folder tree of a volume that may be damaged (listing it,
// deleting it, copying it). A folder met twice means folders that contain
// themselves or share an ID; a folder deeper than the catalog could nest
// means the same. Either ends the walk as a damaged volume.
struct FolderWalk {
    std::set<uint32_t> seen;
    uint32_t maxDepth = 0;
};
// A walk of the open volume, with its catalog's depth bound.
FolderWalk StartFolderWalk();
// Admits folder `folderId`, `depth` levels below the folder the walk began
// in (0 for that one). False with StatusCode 6 when the walk must stop.
bool EnterWalkedFolder(FolderWalk* walk, uint32_t folderId, uint32_t depth);

// A folder met on a walk of a tree.
struct WalkedFolder : MacFolder {
    uint32_t depth;          // levels below the folder the walk began in
};

// What a walk of a tree asks its caller; each part may be left empty.
struct FolderVisitor {
    // A folder entered, with its items in catalog order. The visitor may
    // reorder them or take some out: the walk goes through them in the order
    // they are then in. False ends the walk.
    std::function<bool(const WalkedFolder& folder, std::vector<MacItem>& items)> listed;
    // Each item of the folder in turn; true enters it (when it is a folder)
    // before the next item is seen. Empty: every folder is entered.
    std::function<bool(const WalkedFolder& folder, const MacItem& item, size_t index)> item;
    // The folder's walk is over: its items and everything below them seen.
    std::function<void(const WalkedFolder& folder)> done;
};

// Walks `top` and the folders below it, depth first, through the bound of
// FolderWalk; a stack, not recursion, since the depth comes from the disk.
// False when the walk stopped: StatusCode set, or the visitor ended it.
bool WalkFolderTree(const WalkedFolder& top, const FolderVisitor& visitor);

// The volume list: a fresh array with room for the volumes of one drive, and
// the appending of one volume found by the scan. Both set StatusCode 2 when
// memory runs out.
bool StartVolumeList();
void AddVolumeItem(uint32_t partitionStart, uint32_t volumeSize, const uint8_t* mdb);
