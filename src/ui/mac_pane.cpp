// The Mac pane: its list of volumes or of one folder's items, the moves
// between folders, the order of its entries and the text of its lines.
#include "ui/mac_pane.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/main_state.h"
#include "core/progress.h"
#include "core/status.h"
#include "hfs/catalog_keys.h"
#include "hfs/mac_names.h"
#include "hfs/volume.h"
#include "ui/format_text.h"

namespace {


bool ItemSortsFirst(const MacItem* a, const MacItem* b) { return CompareMacItems(a, b) < 0; }

void BuildFolder(uint32_t folderId, WindowHandle window)
{
    uint32_t node = 0;
    uint16_t index = 0;
    if (!FindFolderStart(folderId, &node, &index)) return;
    BuildMacItemList(node, index, window);
}

}  // namespace

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
    if (!StartMacItemList(expected)) return;
    SetWaitCursor(true);
    const uint16_t made = ReadMacFolderItems(startNode, startIndex, expected);
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
    Str31(entry->name).CopyTo(MacPaneState.name);
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
    uint8_t name[32];
    Str31(MacPaneState.name).CopyTo(name);
    // Bounded by the levels asked for; each step reads one thread record.
    while (levels > 0) {
        if (MacPaneState.parentId == kRootParentId) {
            MacPaneState.parentId = 0;
            SelectMacDrive(window);
            return;
        }
        --levels;
        uint32_t grandParent = 0;
        if (!ReadFolderThread(MacPaneState.parentId, &grandParent, name)) return;
        MacPaneState.folderId = MacPaneState.parentId;
        MacPaneState.parentId = grandParent;
    }
    Str31(name).CopyTo(MacPaneState.name);
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
    if (!MacPaneState.items || index >= MacPaneState.count) {
        std::memset(line, ' ', 80);
        line[80] = 0;
        return;
    }
    FormatMacItem(line, *MacPaneState.items[index]);
}

void FormatMacItem(char* line, const MacItem& entry)
{
    std::memset(line, ' ', 80);
    line[80] = 0;
    const MacItem* item = &entry;
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
