#include "ui/mac_session.h"

#include <cstring>

#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "disk/status.h"
#include "hfs/btree_search.h"
#include "hfs/catalog_keys.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "ui/main_state.h"

namespace {

int g_imageSlot = -1;

// The data of the catalog leaf record for (parentId, name), checked to hold
// a whole folder or file record.
const uint8_t* FindItemRecord(uint32_t parentId, const uint8_t* name)
{
    BlockBuffer* leaf = nullptr;
    uint16_t offset = 0;
    if (SearchCatalog(CatalogRoot(), parentId, name, nullptr, &offset, &leaf) != 0) return nullptr;
    const uint16_t end = RecordEndAt(leaf, offset);
    const uint16_t data = RecordDataOffset(leaf, offset);
    const uint8_t type = leaf->data[data];
    const unsigned needed = type == kFolderRecord ? kFolderRecordSize : kFileRecordSize;
    if (end == 0 || (type != kFolderRecord && type != kFileRecord) || data + needed > end) {
        ReportCorruption("catalog record of an unexpected kind");
        return nullptr;
    }
    return leaf->data + data;
}

}  // namespace

bool OpenImageAsMacDrive(const char* nativePath, bool writable, uint32_t sectorSize)
{
    CloseMacDrive();
    StatusCode = 0;
    g_imageSlot = OpenImage(nativePath, sectorSize, writable);
    if (g_imageSlot < 0) {
        StatusCode = kStatusReadError;
        return false;
    }
    DriveCount = 0;
    if (!AddImageDrive(g_imageSlot)) {
        StatusCode = kStatusReadError;
        return false;
    }
    MacDriveIndex = 0;
    SelectMacDrive(MainWindow);
    return StatusCode == 0;
}

bool OpenListedVolume(unsigned index)
{
    if (MacPaneState.parentId != 0 || !MacPaneState.items || index >= MacPaneState.count) return false;
    const MacItem* volume = MacPaneState.items[index];
    MacVolume.partitionStart = volume->size;
    MacVolume.volumeSize = volume->resourceSize;
    CheckAlternateMdb();
    if (StatusCode == 0) OpenVolume();
    if (StatusCode == 0) ListVolumeRoot(MainWindow);
    return StatusCode == 0;
}

void CloseMacDrive()
{
    FreeBlockCache();
    FreeMacItemList();
    MacVolume = MacVolumeState{};
    MacPaneState = MacPaneStateRecord{};
    if (g_imageSlot >= 0) CloseImage(g_imageSlot);
    g_imageSlot = -1;
    DriveCount = 0;
}

std::vector<std::string> SplitMacPath(const char* path)
{
    std::vector<std::string> parts;
    std::string current;
    for (const char* p = path; *p; ++p) {
        if (*p == ':') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

bool ResolveMacPath(const char* path, MacPathTarget* out, MacPathTarget* parent)
{
    if (!VolumeIsOpen()) return false;
    // The root folder's record is the one record whose parent is 1.
    BlockBuffer* leaf = nullptr;
    uint16_t index = 0;
    if (SearchCatalog(CatalogRoot(), kRootParentId, nullptr, nullptr, &index, &leaf) != 0) return false;
    const uint8_t* rootKey = leaf->data + NodeRecordOffset(leaf, index);
    MacPathTarget target{kRootParentId, {}, kItemFolder, kRootFolderId};
    std::memcpy(target.name, rootKey + kCatKeyName, 1u + (rootKey[kCatKeyName] > 31 ? 31 : rootKey[kCatKeyName]));
    target.name[0] = rootKey[kCatKeyName] > 31 ? 31 : rootKey[kCatKeyName];
    MacPathTarget container = target;

    for (const std::string& part : SplitMacPath(path)) {
        if (target.kind != kItemFolder) {
            StatusCode = kStatusBadNode;  // a file used as a folder: not found
            return false;
        }
        uint8_t name[32];
        PcNameToMac(name, part.c_str());
        const uint8_t* record = FindItemRecord(target.id, name);
        if (!record) return false;
        container = target;
        target.parentId = target.id;
        std::memcpy(target.name, name, sizeof name);
        if (record[0] == kFolderRecord) {
            target.kind = kItemFolder;
            target.id = GetU32(record + kFolderId);
        } else {
            target.kind = kItemFile;
            target.id = GetU32(record + kFileRecFileId);
        }
    }
    *out = target;
    if (parent) *parent = container;
    return true;
}

bool ShowMacFolder(const MacPathTarget& folder)
{
    if (folder.kind != kItemFolder) return false;
    const uint8_t* record = FindItemRecord(folder.parentId, folder.name);
    if (!record) return false;
    FreeMacItemList();
    MacPaneState.parentId = folder.parentId;
    MacPaneState.folderId = folder.id;
    std::memcpy(MacPaneState.name, folder.name, sizeof MacPaneState.name);
    MacPaneState.count = GetU16(record + kFolderValence);
    RelistMacFolder(MainWindow);
    return StatusCode == 0;
}
