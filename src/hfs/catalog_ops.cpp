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
    BlockBuffer* leaf;
    uint16_t keyOffset;
    uint16_t dataOffset;
    uint16_t dataSize;
    uint8_t* Data() const { return leaf->data + dataOffset; }
};

bool FindRecord(uint32_t parentId, const uint8_t* name, FoundRecord* out)
{
    BlockBuffer* leaf = nullptr;
    uint16_t offset = 0;
    if (SearchCatalog(CatalogRoot(), parentId, name, nullptr, &offset, &leaf) != 0) return false;
    CatalogRecord record;
    if (!ReadCatalogRecord(leaf, offset, &record)) return false;
    *out = FoundRecord{leaf, offset, static_cast<uint16_t>(offset + record.dataOffset), record.dataSize};
    return true;
}

// The current folder's own record.
bool FindCurrentFolder(FoundRecord* out)
{
    if (!FindRecord(MacPaneState.parentId, MacPaneState.name, out)) return false;
    if (out->Data()[0] != kFolderRecord) {
        ReportCorruption("current folder's record is not a folder");
        return false;
    }
    return true;
}

void AdjustCurrentFolder(int delta)
{
    FoundRecord folder;
    if (!FindCurrentFolder(&folder)) return;
    const uint16_t valence = GetU16(folder.Data() + kFolderValence);
    uint16_t updated = static_cast<uint16_t>(valence + delta);
    if (delta < 0 && valence == 0) updated = 0;  // a damaged count stays at 0 rather than wrapping
    BlockPutU16(updated, folder.leaf, folder.dataOffset + kFolderValence);
    BlockPutU32(MacNow(), folder.leaf, folder.dataOffset + kFolderModified);
}

void AdjustMdbCount(uint16_t volumeOffset, uint16_t rootOffset, int delta)
{
    BlockBuffer* mdb = MacVolume.mdb;
    BlockPutU32(GetU32(mdb->data + volumeOffset) + static_cast<uint32_t>(delta), mdb, volumeOffset);
    if (MacPaneState.folderId == kRootFolderId)
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

// The thread record of item `id` (a folder's, or a file's that has one),
// checked to be of `type`.
bool FindThread(uint32_t id, uint8_t type, FoundRecord* out)
{
    if (!FindRecord(id, kEmptyName, out)) return false;
    if (out->Data()[0] != type) {
        ReportCorruption(type == kFolderThreadRecord ? "folder without its thread record"
                                                     : "file without its thread record");
        return false;
    }
    return true;
}

// Writes `name` into a thread record's name field.
void RenameThread(const FoundRecord& thread, const uint8_t* name)
{
    BlockFill(0, thread.leaf, thread.dataOffset + kThreadName, kThreadNameBytes);
    BlockMove(thread.leaf, thread.dataOffset + kThreadName, name, 1u + name[0]);
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

void TouchParentFolder()
{
    if (StatusCode == 0) AdjustCurrentFolder(+1);
}

int CreateMacFolder(const uint8_t* name)
{
    if (StatusCode != 0 || !CheckName(name)) return 0;
    const uint32_t folderId = NextCatalogID();
    if (StatusCode != 0) return 0;
    const uint32_t now = MacNow();
    uint8_t record[kMaxRecordBuffer];
    uint8_t* data = record + StartRecord(record, MacPaneState.folderId, name, kFolderRecordSize);
    data[0] = kFolderRecord;
    PutU32(folderId, data + kFolderId);
    PutU32(now, data + kFolderCreated);
    PutU32(now, data + kFolderModified);
    BTreeInsertRecord(&MacVolume.catalogFile, record);
    if (StatusCode != 0) return 0;
    TouchParentFolder();

    data = record + StartRecord(record, folderId, kEmptyName, kThreadRecordSize);
    data[0] = kFolderThreadRecord;
    PutU32(MacPaneState.folderId, data + kThreadParentId);
    std::memcpy(data + kThreadName, name, 1u + name[0]);
    BTreeInsertRecord(&MacVolume.catalogFile, record);
    if (StatusCode != 0) return 0;
    AdjustMdbCount(kMdbFolderCount, kMdbRootFolders, +1);
    return 0;
}

int CreateMacFile(FileCreateRequest* request)
{
    if (StatusCode != 0 || !CheckName(request->name)) return 0;
    const uint32_t fileId = NextCatalogID();
    if (StatusCode != 0) return 0;
    if (request->created == 0) request->created = request->modified = MacNow();
    uint8_t record[kMaxRecordBuffer];
    uint8_t* data = record + StartRecord(record, MacPaneState.folderId, request->name, kFileRecordSize);
    data[0] = kFileRecord;
    std::memcpy(data + kFileType, request->finderInfo, sizeof request->finderInfo);
    PutU32(fileId, data + kFileRecFileId);
    PutU32(request->created, data + kFileCreated);
    PutU32(request->modified, data + kFileModified);
    BTreeInsertRecord(&MacVolume.catalogFile, record);
    if (StatusCode != 0) return 0;
    TouchParentFolder();
    if (StatusCode != 0) return 0;
    AdjustMdbCount(kMdbFileCount, kMdbRootFiles, +1);
    return 0;
}

int DeleteMacItem()
{
    if (StatusCode != 0 || !MacPaneState.items || MacPaneState.openedIndex >= MacPaneState.count) return 0;
    const MacItem* entry = MacPaneState.items[MacPaneState.openedIndex];
    if (entry->kind == kItemFile) return DeleteMacFile(entry->name, MacPaneState.folderId);
    return DeleteEmptyFolder();
}

int DeleteMacFile(const uint8_t* name, uint32_t parentId)
{
    if (StatusCode != 0) return 0;
    ForkRef ref;
    if (LookupFile(name, parentId, &ref) != 0) return 0;
    const bool wasPinned = ref.recordBuffer->flags & kBlockPinned;
    PinBlock(ref.recordBuffer);
    FreeFork(&ref, kResourceFork);
    FreeFork(&ref, kDataFork);
    if (!wasPinned) UnpinBlock(ref.recordBuffer);
    if (StatusCode != 0) return 0;
    DeleteFileRecord(name);
    return StatusCode == 0 ? 1 : 0;
}

void DeleteFileRecord(const uint8_t* name)
{
    if (StatusCode != 0) return;
    FoundRecord record;
    if (!FindRecord(MacPaneState.folderId, name, &record)) return;
    const bool threaded = record.Data()[0] == kFileRecord && (record.Data()[kFileFlags] & kFileThreadExists);
    const uint32_t fileId = GetU32(record.Data() + kFileRecFileId);
    DeleteRecordByKey(record);
    if (StatusCode != 0) return;
    FoundRecord thread;
    if (threaded && FindThread(fileId, kFileThreadRecord, &thread)) DeleteRecordByKey(thread);
    if (StatusCode != 0) return;
    AdjustCurrentFolder(-1);
    if (StatusCode != 0) return;
    AdjustMdbCount(kMdbFileCount, kMdbRootFiles, -1);
}

int DeleteEmptyFolder()
{
    if (StatusCode != 0 || !MacPaneState.items || MacPaneState.openedIndex >= MacPaneState.count) return 0;
    const MacItem* entry = MacPaneState.items[MacPaneState.openedIndex];
    FoundRecord record;
    if (!FindRecord(MacPaneState.folderId, entry->name, &record)) return 0;
    if (record.Data()[0] != kFolderRecord) {
        ReportCorruption("folder entry without a folder record");
        return 0;
    }
    if (GetU16(record.Data() + kFolderValence) != 0) return 0;
    const uint32_t folderId = GetU32(record.Data() + kFolderId);
    DeleteRecordByKey(record);
    if (StatusCode != 0) return 0;
    uint8_t threadKey[kMaxCatalogKeySize];
    BuildCatalogKey(folderId, kEmptyName, threadKey);
    BTreeDeleteRecord(&MacVolume.catalogFile, threadKey);
    if (StatusCode != 0) return 0;
    AdjustCurrentFolder(-1);
    if (StatusCode != 0) return 0;
    AdjustMdbCount(kMdbFolderCount, kMdbRootFolders, -1);
    return StatusCode == 0 ? 1 : 0;
}

void RenameMacItem(const uint8_t* newName, const MacItem* entry)
{
    if (StatusCode != 0 || !CheckName(newName)) return;
    FoundRecord old;
    if (!FindRecord(MacPaneState.folderId, entry->name, &old)) return;
    const uint8_t type = old.Data()[0];
    if (type != kFolderRecord && type != kFileRecord) {
        ReportCorruption("renaming a record that is neither file nor folder");
        return;
    }
    const unsigned dataSize = type == kFileRecord ? kFileRecordSize : kFolderRecordSize;
    uint8_t record[kMaxRecordBuffer];
    uint8_t* data = record + StartRecord(record, MacPaneState.folderId, newName, dataSize);
    std::memcpy(data, old.Data(), dataSize);
    const uint16_t idOffset = type == kFolderRecord ? uint16_t{kFolderId} : uint16_t{kFileRecFileId};
    const uint32_t id = GetU32(data + idOffset);
    const bool threaded = type == kFolderRecord || (data[kFileFlags] & kFileThreadExists);
    DeleteRecordByKey(old);
    BTreeInsertRecord(&MacVolume.catalogFile, record);
    if (StatusCode != 0 || !threaded) return;
    FoundRecord thread;
    if (FindThread(id, type == kFolderRecord ? kFolderThreadRecord : kFileThreadRecord, &thread))
        RenameThread(thread, newName);
}

void SetTypeCreator(const uint8_t* type, const uint8_t* creator, const uint8_t* name)
{
    if (StatusCode != 0) return;
    FoundRecord record;
    if (!FindRecord(MacPaneState.folderId, name, &record)) return;
    if (record.Data()[0] != kFileRecord) {
        StatusCode = kStatusBadNode;
        return;
    }
    BlockMove(record.leaf, record.dataOffset + kFileType, type, 4);
    BlockMove(record.leaf, record.dataOffset + kFileCreator, creator, 4);
}
