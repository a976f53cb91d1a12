#include "hfs/listing.h"

#include <cstring>
#include <new>

#include "core/prefs.h"
#include "core/status.h"
#include "hfs/btree_node.h"
#include "hfs/btree_search.h"
#include "hfs/catalog_keys.h"
#include "hfs/mac_names.h"
#include "hfs/mac_time.h"
#include "hfs/volume.h"

MacPaneStateRecord MacPaneState;

namespace {

// Room in the item array; the volume list always has kVolumeListLimit.
uint32_t g_capacity = 0;

bool AllocateItems(uint32_t capacity)
{
    MacPaneState.items = new (std::nothrow) MacItem*[capacity]();
    if (!MacPaneState.items) {
        g_capacity = 0;
        StatusCode = kStatusNoMemory;
        return false;
    }
    g_capacity = capacity;
    return true;
}

// Makes the entry for the catalog record at `offset` of `node` in `item`.
// False for a record that is not listed (an invisible file) or on failure
// (StatusCode set).
bool MakeMacItem(const BlockData* node, uint16_t offset, MacItem* item)
{
    CatalogRecord record;
    if (!ReadCatalogRecord(node, offset, &record)) return false;
    if (record.type != kFolderRecord && record.type != kFileRecord) {
        ReportCorruption("thread record among a folder's items");
        return false;
    }
    const uint8_t* d = record.data;
    const bool folder = record.type == kFolderRecord;
    if (!folder && CurrentOptions.hideInvisible && (d[kFileFinderFlags] & kFinderInvisibleByteBit)) return false;
    *item = MacItem{};
    record.name.CopyTo(item->name);
    if (folder) {
        item->kind = kItemFolder;
        item->id = GetU32(d + kFolderId);
        item->size = GetU16(d + kFolderValence);
        item->modified = GetU32(d + kFolderModified);
        item->date = DosTimeFromMac(item->modified);
    } else {
        item->kind = kItemFile;
        item->id = GetU32(d + kFileRecFileId);
        item->size = GetU32(d + kFileRecDataLogical);
        item->resourceSize = GetU32(d + kFileRecRsrcLogical);
        item->type[0] = item->creator[0] = 4;
        std::memcpy(item->type + 1, d + kFileType, 4);
        std::memcpy(item->creator + 1, d + kFileCreator, 4);
        std::memcpy(item->finderFlags, d + kFileFinderFlags, 2);
        item->modified = GetU32(d + kFileModified);
        item->date = DosTimeFromMac(item->modified);
    }
    return true;
}

}  // namespace

MacFolder PaneFolder()
{
    MacFolder folder{MacPaneState.parentId, {}, MacPaneState.folderId};
    std::memcpy(folder.name, MacPaneState.name, sizeof folder.name);
    return folder;
}

bool FindFolderStart(uint32_t folderId, uint32_t* node, uint16_t* index)
{
    return SearchCatalog(CatalogRoot(), folderId, nullptr, node, index, nullptr) == 0;
}

bool FolderValence(uint32_t parentId, const uint8_t* name, uint16_t* valence)
{
    BlockBuffer* leaf = nullptr;
    uint16_t offset = 0;
    if (SearchCatalog(CatalogRoot(), parentId, name, nullptr, &offset, &leaf) != 0) return false;
    CatalogRecord record;
    if (!ReadCatalogRecord(leaf, offset, &record)) return false;
    if (record.type != kFolderRecord) {
        ReportCorruption("folder record expected");
        return false;
    }
    *valence = GetU16(record.data + kFolderValence);
    return true;
}

void FreeMacItemList()
{
    if (MacPaneState.items) {
        for (uint32_t i = 0; i < g_capacity; ++i) delete MacPaneState.items[i];
        delete[] MacPaneState.items;
    }
    MacPaneState.items = nullptr;
    MacPaneState.count = 0;
    g_capacity = 0;
}

bool StartMacItemList(uint32_t capacity)
{
    FreeMacItemList();
    return AllocateItems(capacity);
}

bool StartVolumeList() { return StartMacItemList(kVolumeListLimit); }

void AddVolumeItem(uint32_t partitionStart, uint32_t volumeSize, const uint8_t* mdb)
{
    if (!MacPaneState.items || MacPaneState.count >= kVolumeListLimit) return;
    MacItem* item = new (std::nothrow) MacItem();
    if (!item) {
        StatusCode = kStatusNoMemory;
        return;
    }
    item->kind = kItemVolume;
    item->size = partitionStart;
    item->resourceSize = volumeSize;
    Str31(mdb + kMdbVolumeName, kMaxVolumeName).CopyTo(item->name);
    MacPaneState.items[MacPaneState.count++] = item;
}

bool ReadFolderItems(uint32_t startNode, uint16_t startIndex, uint16_t limit, std::vector<MacItem>* items)
{
    uint16_t made = 0;
    LeafCursor cursor;
    if (StartLeafWalk(&cursor, &MacVolume.catalogFile, startNode, startIndex) &&
        startIndex < NodeRecordCount(cursor.node)) {
        const uint32_t wanted = GetU32(cursor.node->data + LeafRecordOffset(&cursor) + kCatKeyParentId);
        bool more = wanted > kRootParentId ? NextLeafRecord(&cursor) : true;
        while (more && StatusCode == 0 && made < limit) {
            const uint16_t offset = LeafRecordOffset(&cursor);
            if (GetU32(cursor.node->data + offset + kCatKeyParentId) != wanted) break;
            MacItem item;
            if (MakeMacItem(cursor.node, offset, &item)) {
                items->push_back(item);
                ++made;
            }
            more = NextLeafRecord(&cursor);
        }
    } else if (StatusCode == 0) {
        ReportCorruption("folder start past the end of its leaf");
    }
    return StatusCode == 0;
}

bool ListFolder(uint32_t folderId, uint16_t limit, std::vector<MacItem>* items)
{
    CatalogHit start{};
    const Lookup found = FindCatalogRecord(CatalogRoot(), folderId, nullptr, &start);
    if (found == Lookup::Missing) ReportCorruption("folder without its thread record");
    if (found != Lookup::Found) return false;
    return ReadFolderItems(start.node, start.index, limit, items);
}

uint16_t ReadMacFolderItems(uint32_t startNode, uint16_t startIndex, uint16_t limit)
{
    std::vector<MacItem> items;
    items.reserve(limit);
    ReadFolderItems(startNode, startIndex, limit, &items);
    uint16_t made = 0;
    for (const MacItem& item : items) {
        MacItem* entry = new (std::nothrow) MacItem(item);
        if (!entry) {
            StatusCode = kStatusNoMemory;
            break;
        }
        MacPaneState.items[made++] = entry;
    }
    return made;
}

bool ReadFolderThread(uint32_t folderId, uint32_t* parentId, uint8_t* name)
{
    static const uint8_t kEmptyName[1] = {0};
    BlockBuffer* leaf = nullptr;
    uint16_t offset = 0;
    if (SearchCatalog(CatalogRoot(), folderId, kEmptyName, nullptr, &offset, &leaf) != 0) return false;
    CatalogRecord record;
    if (!ReadCatalogRecord(leaf, offset, &record)) return false;
    if (record.type != kFolderThreadRecord || record.data[kThreadName] > kMaxMacName) {
        ReportCorruption("folder thread record expected");
        return false;
    }
    *parentId = GetU32(record.data + kThreadParentId);
    Str31(record.data + kThreadName).CopyTo(name);
    return true;
}

FolderWalk StartFolderWalk()
{
    // Every folder on a path holds a folder record and a thread record in
    // the catalog's leaves, so no folder of a sound catalog lies deeper
    // below another than half its leaf records.
    FolderWalk walk;
    if (MacVolume.catalogHeader) walk.maxDepth = GetU32(MacVolume.catalogHeader->data + kHeaderLeafRecords) / 2;
    return walk;
}

bool EnterWalkedFolder(FolderWalk* walk, uint32_t folderId, uint32_t depth)
{
    if (depth > walk->maxDepth) {
        ReportCorruption("folders nested deeper than the catalog can hold");
        return false;
    }
    if (!walk->seen.insert(folderId).second) {
        ReportCorruption("a folder met twice in one walk: folders inside themselves");
        return false;
    }
    return true;
}

bool WalkFolderTree(const WalkedFolder& top, const FolderVisitor& visitor)
{
    struct Frame {
        WalkedFolder folder;
        std::vector<MacItem> items;
        size_t next;
    };
    FolderWalk bound = StartFolderWalk();
    std::vector<Frame> stack;
    auto enter = [&](const WalkedFolder& folder, uint16_t valence) {
        if (!EnterWalkedFolder(&bound, folder.id, folder.depth)) return false;
        Frame frame{folder, {}, 0};
        if (!ListFolder(folder.id, valence, &frame.items)) return false;
        if (visitor.listed && !visitor.listed(frame.folder, frame.items)) return false;
        stack.push_back(std::move(frame));
        return true;
    };
    uint16_t valence = 0;
    if (!FolderValence(top.parentId, top.name, &valence) || !enter(top, valence)) return false;
    while (!stack.empty()) {
        Frame& at = stack.back();
        if (at.next == at.items.size()) {
            const WalkedFolder folder = at.folder;
            stack.pop_back();
            if (visitor.done) visitor.done(folder);
            continue;
        }
        const size_t index = at.next++;
        const MacItem item = at.items[index];  // the stack may move under a reference
        const bool wanted = !visitor.item || visitor.item(at.folder, item, index);
        if (!wanted || item.kind != kItemFolder) continue;
        WalkedFolder child{{at.folder.id, {}, item.id}, at.folder.depth + 1};
        std::memcpy(child.name, item.name, sizeof child.name);
        if (!enter(child, static_cast<uint16_t>(item.size))) return false;
    }
    return true;
}
