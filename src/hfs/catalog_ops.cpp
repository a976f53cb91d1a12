#include "hfs/catalog_ops.h"

#include <cstring>

#include "core/status.h"
#include "hfs/btree_node.h"
#include "hfs/btree_search.h"
#include "hfs/btree_update.h"
#include "hfs/catalog_keys.h"
#include "hfs/extents.h"
#include "hfs/mac_time.h"
#include "hfs/volume.h"

namespace {

const uint8_t kEmptyName[1] = {0};

// A catalog record found by key: its leaf, the offset of its key and of its
// data, and the data's size.
struct FoundRecord {
    BlockBuffer* leaf = nullptr;
    uint16_t keyOffset = 0;
    uint16_t dataOffset = 0;
    uint16_t dataSize = 0;
    uint8_t* Data() const { return leaf->data + dataOffset; }
};

Lookup FindRecord(uint32_t parentId, const uint8_t* name, FoundRecord* out)
{
    CatalogHit hit{};
    const Lookup found = FindCatalogRecord(CatalogRoot(), parentId, name, &hit);
    if (found != Lookup::Found) return found;
    CatalogRecord record;
    if (!ReadCatalogRecord(hit.leaf, hit.offset, &record)) return Lookup::Failed;
    *out = FoundRecord{hit.leaf, hit.offset, static_cast<uint16_t>(hit.offset + record.dataOffset), record.dataSize};
    return Lookup::Found;
}

// The thread record of item `id` (a folder's, or a file's that has one),
// checked to be of `type`. Every folder has one, and so does a file whose
// record says so: a missing thread is damage.
bool FindThread(uint32_t id, uint8_t type, FoundRecord* out)
{
    const Lookup found = FindRecord(id, kEmptyName, out);
    if (found == Lookup::Failed) return false;
    if (found == Lookup::Missing || out->Data()[0] != type) {
        ReportCorruption(type == kFolderThreadRecord ? "folder without its thread record"
                                                     : "file without its thread record");
        return false;
    }
    return true;
}

// The folder's own record.
bool FindFolderRecord(const MacFolder& folder, FoundRecord* out)
{
    const Lookup found = FindRecord(folder.parentId, folder.name, out);
    if (found == Lookup::Failed) return false;
    if (found == Lookup::Missing || out->Data()[0] != kFolderRecord || GetU32(out->Data() + kFolderId) != folder.id) {
        ReportCorruption("a folder's own record missing, or not that folder's");
        return false;
    }
    return true;
}

void AdjustMdbCount(uint16_t volumeOffset, uint16_t rootOffset, uint32_t parentId, int delta)
{
    BlockBuffer* mdb = MacVolume.mdb;
    BlockPutU32(GetU32(mdb->data + volumeOffset) + static_cast<uint32_t>(delta), mdb, volumeOffset);
    if (parentId == kRootFolderId)
        BlockPutU16(static_cast<uint16_t>(GetU16(mdb->data + rootOffset) + delta), mdb, rootOffset);
}

// Builds a length-prefixed leaf record: key (parent, name) and `dataSize`
// bytes of data, zeroed. Returns the offset of the data in `record`.
unsigned StartRecord(uint8_t* record, uint32_t parentId, const uint8_t* name, unsigned dataSize)
{
    std::memset(record, 0, kMaxRecordBuffer);
    const unsigned keySize = BuildCatalogKey(parentId, name, record + 1);
    record[0] = static_cast<uint8_t>(keySize + dataSize);
    return 1 + keySize;
}

bool CheckName(const uint8_t* name)
{
    if (IsValidMacName(name)) return true;
    StatusCode = kStatusCannotCreate;
    return false;
}

void DeleteRecordByKey(const FoundRecord& record)
{
    uint8_t key[kMaxCatalogKeySize];
    const uint8_t* stored = record.leaf->data + record.keyOffset;
    std::memcpy(key, stored, 1u + stored[0]);
    const bool wasPinned = record.leaf->flags & kBlockPinned;
    PinBlock(record.leaf);
    BTreeDeleteRecord(&MacVolume.catalogFile, key);
    if (!wasPinned) UnpinBlock(record.leaf);
}

// Writes `name` into a thread record's name field.
void RenameThread(const FoundRecord& thread, const uint8_t* name)
{
    BlockFill(0, thread.leaf, thread.dataOffset + kThreadName, kThreadNameBytes);
    BlockMove(thread.leaf, thread.dataOffset + kThreadName, name, 1u + name[0]);
}

// Adds `delta` to the folder's valence and dates it now.
void AdjustFolderValence(const MacFolder& parent, int delta)
{
    FoundRecord folder;
    if (!FindFolderRecord(parent, &folder)) return;
    const uint16_t valence = GetU16(folder.Data() + kFolderValence);
    uint16_t updated = static_cast<uint16_t>(valence + delta);
    if (delta < 0 && valence == 0) updated = 0;  // a damaged count stays at 0 rather than wrapping
    BlockPutU16(updated, folder.leaf, folder.dataOffset + kFolderValence);
    BlockPutU32(MacNow(), folder.leaf, folder.dataOffset + kFolderModified);
}

// What the pane's operations make of a name that is not there.
void MissingIsBadNode(Lookup found)
{
    if (found == Lookup::Missing && StatusCode == 0) StatusCode = kStatusBadNode;
}

const MacItem* OpenedEntry()
{
    if (!MacPaneState.items || MacPaneState.openedIndex >= MacPaneState.count) return nullptr;
    return MacPaneState.items[MacPaneState.openedIndex];
}

}  // namespace

bool IsValidMacName(const uint8_t* name)
{
    if (name[0] == 0 || name[0] > kMaxMacName) return false;
    return std::memchr(name + 1, ':', name[0]) == nullptr;
}

uint32_t NextCatalogID()
{
    const uint32_t next = GetU32(MacVolume.mdb->data + kMdbNextCatalogId);
    if (next < kFirstUserId) {
        ReportCorruption("next catalog ID among the reserved ones");
        return 0;
    }
    if (next == 0xFFFFFFFFu) {
        StatusCode = kStatusDiskFull;  // the counter would wrap
        return 0;
    }
    BlockPutU32(next + 1, MacVolume.mdb, kMdbNextCatalogId);
    return next;
}

// ---- the catalog core: every operation names its folder -------------------------

void CreateFolderIn(const MacFolder& parent, const uint8_t* name)
{
    if (StatusCode != 0 || !CheckName(name)) return;
    const uint32_t folderId = NextCatalogID();
    if (StatusCode != 0) return;
    const uint32_t now = MacNow();
    uint8_t record[kMaxRecordBuffer];
    uint8_t* data = record + StartRecord(record, parent.id, name, kFolderRecordSize);
    data[0] = kFolderRecord;
    PutU32(folderId, data + kFolderId);
    PutU32(now, data + kFolderCreated);
    PutU32(now, data + kFolderModified);
    BTreeInsertRecord(&MacVolume.catalogFile, record);
    if (StatusCode != 0) return;
    AdjustFolderValence(parent, +1);
    if (StatusCode != 0) return;

    data = record + StartRecord(record, folderId, kEmptyName, kThreadRecordSize);
    data[0] = kFolderThreadRecord;
    PutU32(parent.id, data + kThreadParentId);
    std::memcpy(data + kThreadName, name, 1u + name[0]);
    BTreeInsertRecord(&MacVolume.catalogFile, record);
    if (StatusCode != 0) return;
    AdjustMdbCount(kMdbFolderCount, kMdbRootFolders, parent.id, +1);
}

void CreateFileIn(const MacFolder& parent, FileCreateRequest* request)
{
    if (StatusCode != 0 || !CheckName(request->name)) return;
    const uint32_t fileId = NextCatalogID();
    if (StatusCode != 0) return;
    if (request->created == 0) request->created = request->modified = MacNow();
    uint8_t record[kMaxRecordBuffer];
    uint8_t* data = record + StartRecord(record, parent.id, request->name, kFileRecordSize);
    data[0] = kFileRecord;
    std::memcpy(data + kFileType, request->finderInfo, sizeof request->finderInfo);
    PutU32(fileId, data + kFileRecFileId);
    PutU32(request->created, data + kFileCreated);
    PutU32(request->modified, data + kFileModified);
    BTreeInsertRecord(&MacVolume.catalogFile, record);
    if (StatusCode != 0) return;
    AdjustFolderValence(parent, +1);
    if (StatusCode != 0) return;
    AdjustMdbCount(kMdbFileCount, kMdbRootFiles, parent.id, +1);
}

Lookup DeleteFileIn(const MacFolder& parent, const uint8_t* name)
{
    if (StatusCode != 0) return Lookup::Failed;
    ForkRef ref;
    const Lookup found = FindFileRecord(parent.id, name, &ref);
    if (found != Lookup::Found) return found;
    const bool wasPinned = ref.recordBuffer->flags & kBlockPinned;
    PinBlock(ref.recordBuffer);
    FreeFork(&ref, kResourceFork);
    FreeFork(&ref, kDataFork);
    if (!wasPinned) UnpinBlock(ref.recordBuffer);
    if (StatusCode != 0) return Lookup::Failed;
    // The record was there a moment ago: losing it now is damage.
    if (DeleteFileRecordIn(parent, name) == Lookup::Missing) ReportCorruption("file record gone while deleting it");
    return StatusCode == 0 ? Lookup::Found : Lookup::Failed;
}

Lookup DeleteFileRecordIn(const MacFolder& parent, const uint8_t* name)
{
    if (StatusCode != 0) return Lookup::Failed;
    FoundRecord record;
    const Lookup found = FindRecord(parent.id, name, &record);
    if (found != Lookup::Found) return found;
    const bool threaded = record.Data()[0] == kFileRecord && (record.Data()[kFileFlags] & kFileThreadExists);
    const uint32_t fileId = GetU32(record.Data() + kFileRecFileId);
    DeleteRecordByKey(record);
    FoundRecord thread;
    if (StatusCode == 0 && threaded && FindThread(fileId, kFileThreadRecord, &thread)) DeleteRecordByKey(thread);
    if (StatusCode == 0) AdjustFolderValence(parent, -1);
    if (StatusCode == 0) AdjustMdbCount(kMdbFileCount, kMdbRootFiles, parent.id, -1);
    return StatusCode == 0 ? Lookup::Found : Lookup::Failed;
}

Lookup DeleteEmptyFolderIn(const MacFolder& parent, const uint8_t* name, bool* deleted)
{
    *deleted = false;
    if (StatusCode != 0) return Lookup::Failed;
    FoundRecord record;
    const Lookup found = FindRecord(parent.id, name, &record);
    if (found != Lookup::Found) return found;
    if (record.Data()[0] != kFolderRecord) return Lookup::Missing;
    if (GetU16(record.Data() + kFolderValence) != 0) return Lookup::Found;
    const uint32_t folderId = GetU32(record.Data() + kFolderId);
    DeleteRecordByKey(record);
    if (StatusCode != 0) return Lookup::Failed;
    uint8_t threadKey[kMaxCatalogKeySize];
    BuildCatalogKey(folderId, kEmptyName, threadKey);
    BTreeDeleteRecord(&MacVolume.catalogFile, threadKey);
    if (StatusCode == 0) AdjustFolderValence(parent, -1);
    if (StatusCode == 0) AdjustMdbCount(kMdbFolderCount, kMdbRootFolders, parent.id, -1);
    *deleted = StatusCode == 0;
    return StatusCode == 0 ? Lookup::Found : Lookup::Failed;
}

Lookup RenameItemIn(const MacFolder& parent, const uint8_t* oldName, const uint8_t* newName)
{
    if (StatusCode != 0 || !CheckName(newName)) return Lookup::Failed;
    FoundRecord old;
    const Lookup found = FindRecord(parent.id, oldName, &old);
    if (found != Lookup::Found) return found;
    const uint8_t type = old.Data()[0];
    if (type != kFolderRecord && type != kFileRecord) {
        ReportCorruption("renaming a record that is neither file nor folder");
        return Lookup::Failed;
    }
    const unsigned dataSize = type == kFileRecord ? kFileRecordSize : kFolderRecordSize;
    uint8_t record[kMaxRecordBuffer];
    uint8_t* data = record + StartRecord(record, parent.id, newName, dataSize);
    std::memcpy(data, old.Data(), dataSize);
    const uint16_t idOffset = type == kFolderRecord ? uint16_t{kFolderId} : uint16_t{kFileRecFileId};
    const uint32_t id = GetU32(data + idOffset);
    const bool threaded = type == kFolderRecord || (data[kFileFlags] & kFileThreadExists);
    DeleteRecordByKey(old);
    BTreeInsertRecord(&MacVolume.catalogFile, record);
    FoundRecord thread;
    if (StatusCode == 0 && threaded &&
        FindThread(id, type == kFolderRecord ? kFolderThreadRecord : kFileThreadRecord, &thread))
        RenameThread(thread, newName);
    return StatusCode == 0 ? Lookup::Found : Lookup::Failed;
}

Lookup SetTypeCreatorIn(const MacFolder& parent, const uint8_t* name, const uint8_t* type, const uint8_t* creator)
{
    if (StatusCode != 0) return Lookup::Failed;
    FoundRecord record;
    const Lookup found = FindRecord(parent.id, name, &record);
    if (found != Lookup::Found) return found;
    if (record.Data()[0] != kFileRecord) return Lookup::Missing;
    BlockMove(record.leaf, record.dataOffset + kFileType, type, 4);
    BlockMove(record.leaf, record.dataOffset + kFileCreator, creator, 4);
    return Lookup::Found;
}

// ---- the operations on the Mac pane's current folder ----------------------------

void TouchParentFolder()
{
    if (StatusCode == 0) AdjustFolderValence(PaneFolder(), +1);
}

void CreateMacFolder(const uint8_t* name) { CreateFolderIn(PaneFolder(), name); }

void CreateMacFile(FileCreateRequest* request) { CreateFileIn(PaneFolder(), request); }

int DeleteMacItem()
{
    const MacItem* entry = OpenedEntry();
    if (StatusCode != 0 || !entry) return 0;
    if (entry->kind == kItemFile) return DeleteMacFile(entry->name, MacPaneState.folderId);
    return DeleteEmptyFolder();
}

int DeleteMacFile(const uint8_t* name, uint32_t parentId)
{
    MacFolder parent = PaneFolder();
    if (StatusCode != 0) return 0;
    if (parentId != parent.id) {
        parent.id = parentId;
        if (!ReadFolderThread(parentId, &parent.parentId, parent.name)) return 0;
    }
    const Lookup found = DeleteFileIn(parent, name);
    MissingIsBadNode(found);
    return found == Lookup::Found ? 1 : 0;
}

void DeleteFileRecord(const uint8_t* name) { MissingIsBadNode(DeleteFileRecordIn(PaneFolder(), name)); }

int DeleteEmptyFolder()
{
    const MacItem* entry = OpenedEntry();
    if (StatusCode != 0 || !entry) return 0;
    bool deleted = false;
    MissingIsBadNode(DeleteEmptyFolderIn(PaneFolder(), entry->name, &deleted));
    return deleted ? 1 : 0;
}

void RenameMacItem(const uint8_t* newName, const MacItem* entry)
{
    MissingIsBadNode(RenameItemIn(PaneFolder(), entry->name, newName));
}

void SetTypeCreator(const uint8_t* type, const uint8_t* creator, const uint8_t* name)
{
    MissingIsBadNode(SetTypeCreatorIn(PaneFolder(), name, type, creator));
}
