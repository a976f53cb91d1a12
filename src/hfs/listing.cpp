#include "hfs/listing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/main_state.h"
#include "core/prefs.h"
#include "core/status.h"
#include "hfs/btree_node.h"
#include "hfs/btree_search.h"
#include "hfs/catalog_keys.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "ui/format_text.h"

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

void CopyName(uint8_t* out, const uint8_t* name, unsigned limit)
{
    const unsigned length = name[0] > limit ? limit : name[0];
    out[0] = static_cast<uint8_t>(length);
    std::memcpy(out + 1, name + 1, length);
}

// Makes the pane entry for the catalog record at `offset` of `node`. Returns
// null for a record that is not listed (an invisible file) or on failure
// (StatusCode set).
MacItem* MakeMacItem(const BlockData* node, uint16_t offset)
{
    const uint16_t end = RecordEndAt(node, offset);
    const uint16_t data = RecordDataOffset(node, offset);
    const uint8_t* d = node->data + data;
    const unsigned kind = d[0] & 7u;
    const unsigned needed = kind == kItemFolder ? kFolderRecordSize : kFileRecordSize;
    if (end == 0 || data + needed > end) {
        ReportCorruption("catalog record shorter than its type");
        return nullptr;
    }
    if (kind != kItemFolder && Prefs.HideInvisible && (d[kFileFinderFlags] & kFinderInvisibleByteBit)) return nullptr;
    MacItem* item = new (std::nothrow) MacItem();
    if (!item) {
        StatusCode = kStatusNoMemory;
        return nullptr;
    }
    CopyName(item->name, node->data + offset + kCatKeyName, kMaxMacName);
    if (kind == kItemFolder) {
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
    return item;
}

bool ItemSortsFirst(const MacItem* a, const MacItem* b) { return CompareMacItems(a, b) < 0; }

// The first record of `folderId` (its thread record), as (node, index).
bool FindFolderStart(uint32_t folderId, uint32_t* node, uint16_t* index)
{
    return SearchCatalog(CatalogRoot(), folderId, nullptr, node, index, nullptr) == 0;
}

// The valence of the folder record (parentId, name); false on failure.
bool FolderValence(uint32_t parentId, const uint8_t* name, uint16_t* valence)
{
    BlockBuffer* leaf = nullptr;
    uint16_t offset = 0;
    if (SearchCatalog(CatalogRoot(), parentId, name, nullptr, &offset, &leaf) != 0) return false;
    const uint16_t end = RecordEndAt(leaf, offset);
    const uint16_t data = RecordDataOffset(leaf, offset);
    if (end == 0 || data + kFolderRecordSize > end || (leaf->data[data] & 7u) != kFolderRecord) {
        ReportCorruption("folder record expected");
        return false;
    }
    *valence = GetU16(leaf->data + data + kFolderValence);
    return true;
}

void BuildFolder(uint32_t folderId, WindowHandle window)
{
    uint32_t node = 0;
    uint16_t index = 0;
    if (!FindFolderStart(folderId, &node, &index)) return;
    BuildMacItemList(node, index, window);
}

}  // namespace

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

bool StartVolumeList()
{
    FreeMacItemList();
    return AllocateItems(kVolumeListLimit);
}

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
    CopyName(item->name, mdb + kMdbVolumeName, 27);
    MacPaneState.items[MacPaneState.count++] = item;
}

void BuildMacItemList(uint32_t startNode, uint16_t startIndex, WindowHandle window)
{
    WindowSystem& ws = Ws();
    if (DisplayUpdates) {
        ws.EnableControl(kIdMacUpButton, true);
        ws.ListReset(kIdMacList);
        UpdateMacSpaceLabel(window);
    }
    const uint16_t expected = MacPaneState.count;
    MacPaneState.count = 0;
    if (expected == 0) return;
    FreeMacItemList();
    if (!AllocateItems(expected)) return;
    SetWaitCursor(true);

    uint16_t made = 0;
    LeafCursor cursor;
    if (StartLeafWalk(&cursor, &MacVolume.catalogFile, startNode, startIndex) &&
        startIndex < NodeRecordCount(cursor.node)) {
        const uint32_t wanted = GetU32(cursor.node->data + LeafRecordOffset(&cursor) + kCatKeyParentId);
        bool more = wanted > kRootParentId ? NextLeafRecord(&cursor) : true;
        while (more && StatusCode == 0 && made < expected) {
            const uint16_t offset = LeafRecordOffset(&cursor);
            if (GetU32(cursor.node->data + offset + kCatKeyParentId) != wanted) break;
            if (MacItem* item = MakeMacItem(cursor.node, offset)) MacPaneState.items[made++] = item;
            more = NextLeafRecord(&cursor);
        }
    } else if (StatusCode == 0) {
        ReportCorruption("folder start past the end of its leaf");
    }

    if (made > 0) {
        std::sort(MacPaneState.items, MacPaneState.items + made, ItemSortsFirst);
        if (DisplayUpdates)
            for (uint16_t i = 0; i < made; ++i) ws.ListAddItem(kIdMacList, static_cast<intptr_t>(i));
    }
    MacPaneState.count = made;
    SetWaitCursor(false);
}

void ListVolumeRoot(WindowHandle window)
{
    FreeMacItemList();
    MacPaneState.parentId = 0;
    MacPaneState.folderId = kRootParentId;
    MacPaneState.count = 1;
    BuildFolder(kRootParentId, window);
    if (StatusCode != 0 || MacPaneState.count == 0) {
        if (StatusCode == 0) ReportCorruption("no root folder record");
        return;
    }
    MacPaneState.openedIndex = 0;
    OpenMacFolder(window);
}

void OpenMacFolder(WindowHandle window)
{
    if (!MacPaneState.items || MacPaneState.openedIndex >= MacPaneState.count) return;
    const MacItem* entry = MacPaneState.items[MacPaneState.openedIndex];
    if (entry->kind != kItemFolder) return;
    const uint32_t folderId = entry->id;
    const uint16_t valence = static_cast<uint16_t>(entry->size);
    CopyName(MacPaneState.name, entry->name, kMaxMacName);
    MacPaneState.parentId = MacPaneState.folderId;
    MacPaneState.folderId = folderId;
    uint32_t node = 0;
    uint16_t index = 0;
    if (!FindFolderStart(folderId, &node, &index)) return;
    if (DisplayUpdates) {
        char pcName[kMaxMacName + 1];
        MacNameToPc(pcName, MacPaneState.name, true);
        Ws().ComboInsertFirst(kIdMacFolderBox, pcName);
        Ws().ComboSelect(kIdMacFolderBox, 0);
    }
    FreeMacItemList();
    MacPaneState.count = valence;
    BuildMacItemList(node, index, window);
}

void GoUpMacFolders(WindowHandle window, unsigned levels)
{
    if (levels == 0 || MacPaneState.parentId == 0) return;
    static const uint8_t kEmptyName[1] = {0};
    uint8_t name[32];
    CopyName(name, MacPaneState.name, kMaxMacName);
    // Bounded by the levels asked for; each step reads one thread record.
    while (levels > 0) {
        if (MacPaneState.parentId == kRootParentId) {
            MacPaneState.parentId = 0;
            SelectMacDrive(window);
            return;
        }
        --levels;
        BlockBuffer* leaf = nullptr;
        uint16_t offset = 0;
        if (SearchCatalog(CatalogRoot(), MacPaneState.parentId, kEmptyName, nullptr, &offset, &leaf) != 0) return;
        const uint16_t end = RecordEndAt(leaf, offset);
        const uint16_t data = RecordDataOffset(leaf, offset);
        if (end == 0 || data + kThreadRecordSize > end || leaf->data[data] != kFolderThreadRecord ||
            leaf->data[data + kThreadName] > kMaxMacName) {
            ReportCorruption("folder thread record expected");
            return;
        }
        MacPaneState.folderId = MacPaneState.parentId;
        MacPaneState.parentId = GetU32(leaf->data + data + kThreadParentId);
        CopyName(name, leaf->data + data + kThreadName, kMaxMacName);
    }
    CopyName(MacPaneState.name, name, kMaxMacName);
    uint16_t valence = 0;
    if (!FolderValence(MacPaneState.parentId, MacPaneState.name, &valence)) return;
    FreeMacItemList();
    MacPaneState.count = valence;
    BuildFolder(MacPaneState.folderId, window);
}

void RefreshMacFolder(WindowHandle window)
{
    uint16_t valence = 0;
    if (!FolderValence(MacPaneState.parentId, MacPaneState.name, &valence)) return;
    FreeMacItemList();
    MacPaneState.count = valence;
    RelistMacFolder(window);
}

void RelistMacFolder(WindowHandle window)
{
    const int top = Ws().ListTopIndex(kIdMacList);
    uint32_t node = 0;
    uint16_t index = 0;
    if (!FindFolderStart(MacPaneState.folderId, &node, &index)) return;
    const uint16_t expected = MacPaneState.count;
    FreeMacItemList();
    MacPaneState.count = expected;
    BuildMacItemList(node, index, window);
    if (top >= 1) Ws().ListSetTopIndex(kIdMacList, top);
}

int CompareMacItems(const MacItem* a, const MacItem* b)
{
    if (a->kind != b->kind) return a->kind < b->kind ? -1 : 1;
    const bool files = a->kind == kItemFile;
    switch (MacSortId) {
    case kSortByType:
        if (files) {
            if (int c = CompareMacNames(a->type, b->type)) return c;
        }
        break;
    case kSortByCreator:
        if (files) {
            if (int c = CompareMacNames(a->creator, b->creator)) return c;
        }
        break;
    case kSortBySize:
        if (files && a->size != b->size) return a->size > b->size ? -1 : 1;
        break;
    case kSortByDate:
        if (a->date != b->date) return a->date > b->date ? -1 : 1;
        break;
    default:
        break;
    }
    return CompareMacNames(a->name, b->name);
}

void FormatMacItemLine(char* line, unsigned index)
{
    std::memset(line, ' ', 80);
    line[80] = 0;
    if (!MacPaneState.items || index >= MacPaneState.count) return;
    const MacItem* item = MacPaneState.items[index];
    MacNameToPc(line, item->name, false);
    if (item->kind == kItemVolume) {
        std::memcpy(line + 34, "[VOLUME]", 8);
        line[42] = 0;
        return;
    }
    if (item->kind == kItemFolder) {
        std::memcpy(line + 34, "[FOLDER]", 8);
    } else {
        MacNameToPc(line + 33, item->type, false);
        MacNameToPc(line + 39, item->creator, false);
        char size[16];
        FormatSize(item->size, size);
        std::memcpy(line + 45, size, std::min<size_t>(std::strlen(size), 4));
        FormatSize(item->resourceSize, size);
        std::memcpy(line + 51, size, std::min<size_t>(std::strlen(size), 4));
    }
    const unsigned dosDate = item->date >> 16;
    const unsigned month = (dosDate >> 5) & 0x0F;
    const unsigned day = dosDate & 0x1F;
    const unsigned year = ((dosDate >> 9) + 80u) % 128u;  // years since 1900 for 1980..2027
    char date[16];
    std::snprintf(date, sizeof date, "%02u/%02u/%02u", month, day, year);
    std::memcpy(line + 57, date, std::strlen(date));
    line[57 + std::strlen(date)] = 0;
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
