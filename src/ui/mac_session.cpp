#include "ui/mac_session.h"

#include <cstring>
#include <string>

#include "core/main_state.h"
#include "core/status.h"
#include "disk/check_memory.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "hfs/btree_search.h"
#include "hfs/catalog_keys.h"
#include "hfs/listing.h"
#include "hfs/mac_names.h"
#include "hfs/volume_check.h"
#include "hfs/volume_scan.h"
#include "ui/mac_pane.h"

namespace {

int g_imageSlot = -1;
bool g_imageInUse = false;
std::vector<std::string> g_writeBlockers;
// The open volume was found free of damage that blocks writing (by the check
// before writing, or by one remembered from an earlier command).
bool g_volumeSound = false;

// Runs the consistency check on a volume about to be written and, if it
// finds damage a write could spread, makes the drive read only. Every write
// then stops at the block layer with the read-only status, before anything
// reaches the medium. A check of this very image state made by an earlier
// command is taken instead: on a volume of many files the check costs far
// more than writing one of them.
void GuardWritableVolume()
{
    DriveEntry& drive = DriveTable[MacDriveIndex];
    if (drive.WriteSectors == nullptr || (drive.Flags & kDriveReadOnly) || MacVolume.writeRefusal) return;
    if (CleanCheckRemembered(&drive, MacVolume.partitionStart)) {
        g_volumeSound = true;
        return;
    }
    std::vector<std::string> problems;
    std::vector<ProblemSeverity> severities;
    CheckVolume(&problems, &severities);
    for (size_t i = 0; i < problems.size(); ++i)
        if (severities[i] == ProblemSeverity::Blocking) g_writeBlockers.push_back(problems[i]);
    if (!g_writeBlockers.empty()) drive.Flags |= kDriveReadOnly;
    g_volumeSound = g_writeBlockers.empty();
}

// The data of the catalog leaf record for (parentId, name), checked to hold
// a whole folder or file record.
Lookup FindItemRecord(uint32_t parentId, const uint8_t* name, const uint8_t** out)
{
    CatalogHit hit{};
    const Lookup found = FindCatalogRecord(CatalogRoot(), parentId, name, &hit);
    if (found != Lookup::Found) return found;
    CatalogRecord record;
    if (!ReadCatalogRecord(hit.leaf, hit.offset, &record)) return Lookup::Failed;
    if (record.type != kFolderRecord && record.type != kFileRecord) {
        ReportCorruption("catalog record of an unexpected kind");
        return Lookup::Failed;
    }
    *out = record.data;
    return Lookup::Found;
}

}  // namespace

bool OpenImageAsMacDrive(const char* nativePath, bool writable, uint32_t sectorSize)
{
    CloseMacDrive();
    StatusCode = 0;
    g_imageSlot = OpenImage(nativePath, sectorSize, writable);
    g_imageInUse = g_imageSlot == kImageInUse;
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

bool OpenListedVolume(unsigned index, bool listRoot)
{
    if (MacPaneState.parentId != 0 || !MacPaneState.items || index >= MacPaneState.count) return false;
    const MacItem* volume = MacPaneState.items[index];
    // A volume of a kind this program does not read, or one whose partition
    // could not be read, is listed but not opened.
    if (const ScannedVolume* found = ScannedVolumeAt(index); found && !found->problem.empty()) {
        StatusCode = found->kind == VolumeKind::Unreadable ? kStatusReadError : kStatusNoVolume;
        return false;
    }
    MacVolume.partitionStart = volume->size;
    MacVolume.volumeSize = volume->resourceSize;
    // The read-only state that damage of the volume opened before set is
    // not this volume's.
    if (!g_writeBlockers.empty()) DriveTable[MacDriveIndex].Flags &= ~kDriveReadOnly;
    g_writeBlockers.clear();
    g_volumeSound = false;
    CheckAlternateMdb();
    if (StatusCode == 0) OpenVolume();
    if (StatusCode == 0 && MacVolume.writeRefusal) {
        // Said once, when the volume is opened; on a drive that is not
        // written anyway only a wrapped HFS+ volume is worth a word.
        const ScannedVolume* found = ScannedVolumeAt(index);
        const bool wrapper = found && found->kind == VolumeKind::HfsWrapper;
        if (wrapper || DriveTable[MacDriveIndex].WriteSectors) {
            const std::string text = wrapper ? std::string("This volume holds an HFS+ volume, which this program does "
                                                           "not read; only the files of the HFS volume around it are "
                                                           "shown, and nothing is written to it.")
                                             : std::string("This volume is only read: ") + MacVolume.writeRefusal + ".";
            Ws().ShowMessage(MainWindow, text.c_str(), "Volume opened read only", kMbOk | kMbIconExclamation);
        }
    }
    if (StatusCode == 0) GuardWritableVolume();
    if (StatusCode != 0) return false;
    if (listRoot) {
        ListVolumeRoot(MainWindow);
        return StatusCode == 0;
    }
    MacPathTarget root;
    if (!ResolveMacPath(":", &root)) return false;
    EnterMacFolderUnlisted(root);
    return true;
}

bool MacDriveWasInUse() { return g_imageInUse; }

const std::vector<std::string>& WriteBlockers() { return g_writeBlockers; }

void CloseMacDrive()
{
    // What reached the image is whole flushes of a sound volume (a failed
    // write makes the record refuse), so the next command need not check it.
    if (g_volumeSound && DriveCount > 0) RememberCleanCheck(&DriveTable[MacDriveIndex], MacVolume.partitionStart);
    g_volumeSound = false;
    FreeBlockCache();
    FreeMacItemList();
    MacVolume = MacVolumeState{};
    MacPaneState = MacPaneStateRecord{};
    if (g_imageSlot >= 0) CloseImage(g_imageSlot);
    g_imageSlot = -1;
    g_writeBlockers.clear();
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

Lookup FindMacPath(const char* path, MacPathTarget* out, MacPathTarget* parent)
{
    if (!VolumeIsOpen()) return Lookup::Failed;
    // The root folder's record is the one record whose parent is 1.
    CatalogHit hit{};
    const Lookup root = FindCatalogRecord(CatalogRoot(), kRootParentId, nullptr, &hit);
    if (root == Lookup::Missing) ReportCorruption("no root folder record");
    if (root != Lookup::Found) return Lookup::Failed;
    const uint8_t* rootKey = hit.leaf->data + hit.offset;
    MacPathTarget target{kRootParentId, {}, kItemFolder, kRootFolderId};
    Str31(rootKey + kCatKeyName).CopyTo(target.name);
    MacPathTarget container = target;

    for (const std::string& part : SplitMacPath(path)) {
        if (target.kind != kItemFolder) return Lookup::Missing;  // a file used as a folder
        uint8_t name[32];
        PcNameToMac(name, part.c_str());
        const uint8_t* record = nullptr;
        const Lookup found = FindItemRecord(target.id, name, &record);
        if (found != Lookup::Found) return found;
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
    return Lookup::Found;
}

bool ResolveMacPath(const char* path, MacPathTarget* out, MacPathTarget* parent)
{
    const Lookup found = FindMacPath(path, out, parent);
    if (found == Lookup::Missing) StatusCode = kStatusBadNode;
    return found == Lookup::Found;
}

bool ShowMacFolder(const MacPathTarget& folder)
{
    if (folder.kind != kItemFolder) return false;
    const uint8_t* record = nullptr;
    const Lookup found = FindItemRecord(folder.parentId, folder.name, &record);
    if (found == Lookup::Missing) StatusCode = kStatusBadNode;
    if (found != Lookup::Found) return false;
    FreeMacItemList();
    MacPaneState.parentId = folder.parentId;
    MacPaneState.folderId = folder.id;
    std::memcpy(MacPaneState.name, folder.name, sizeof MacPaneState.name);
    MacPaneState.count = GetU16(record + kFolderValence);
    RelistMacFolder(MainWindow);
    return StatusCode == 0;
}

void EnterMacFolderUnlisted(const MacPathTarget& folder)
{
    FreeMacItemList();
    MacPaneState.parentId = folder.parentId;
    MacPaneState.folderId = folder.id;
    MacPaneState.openedIndex = 0;
    std::memcpy(MacPaneState.name, folder.name, sizeof MacPaneState.name);
}

Lookup FindMacItem(uint32_t folderId, const uint8_t* name, MacPathTarget* out)
{
    const uint8_t* record = nullptr;
    const Lookup found = FindItemRecord(folderId, name, &record);
    if (found != Lookup::Found) return found;
    out->parentId = folderId;
    Str31(name).CopyTo(out->name);
    const bool folder = record[0] == kFolderRecord;
    out->kind = folder ? kItemFolder : kItemFile;
    out->id = folder ? GetU32(record + kFolderId) : GetU32(record + kFileRecFileId);
    return Lookup::Found;
}
