#include "disk/discovery.h"

#include <cstdio>
#include <cstring>

#include "core/prefs.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "disk/image_drive.h"
#include "disk/windows_devices.h"
#include "platform/platform.h"

namespace {

constexpr char kNoDrives[] = "Can't find any Mac compatible drives.";

// The images of the drives listed so far leave their slots.
void CloseTableImages()
{
    for (uint32_t i = 0; i < DriveCount && i < kMaxDrives; ++i)
        if (ImageSlotOfDrive(&DriveTable[i])) CloseImage(static_cast<int>(DriveTable[i].Unit));
}

}  // namespace

void DiscoverDrives()
{
    CloseTableImages();
    DriveCount = 0;
    if (Prefs.AddASPI) AddAspiDrives();
    if (DriveCount == 0 && IsWindowsNt()) {
        if (Prefs.AddBIOS) AddPhysicalDrives();
        if (Prefs.AddCDROM) AddCdromDrives();
    }
    if (Prefs.AddFloppy) {
        AddFloppyDrive(0);
        AddFloppyDrive(1);
    }
    AddImageDrives();
}

void (*DriveSizeText)(uint32_t bytes, char* out) = nullptr;

void AddPhysicalDrives()
{
    for (uint32_t number = 0; number <= 25; ++number) {
        uint64_t capacity = 0;
        const int kind = PhysicalDriveKind(number, &capacity);
        if (kind == 0) continue;
        DriveEntry* entry = BeginDriveEntry();
        entry->Unit = number;
        entry->ReadSectors = PhysicalReadBlocks;
        entry->WriteSectors = PhysicalWriteBlocks;
        entry->BlocksPerSector = 1;
        // A fixed disk is listed only when it is a Mac disk; a removable
        // drive always, since its medium may be changed later.
        if (kind == kPhysicalFixed && !HasMacSignature(entry)) continue;
        // The size text takes 32 bits: 4 GiB and more is its ">4G".
        char size[16] = "";
        const uint32_t shown = capacity > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(capacity);
        if (DriveSizeText)
            DriveSizeText(shown, size);
        else
            std::snprintf(size, sizeof size, "%u", shown);
        PhysicalDriveName(number, size, entry->Name);
        CommitDriveEntry();
    }
}

void AddCdromDrives()
{
    for (uint32_t index = 3; index <= 25; ++index) {  // D to Z
        if (!CdromPresent(index)) continue;
        DriveEntry* entry = BeginDriveEntry();
        entry->Unit = index;
        entry->ReadSectors = CdromReadBlocks;
        entry->BlocksPerSector = 4;
        CdromDriveName(index, entry->Name);
        CommitDriveEntry();
    }
}

void AddFloppyDrive(uint32_t unit)
{
    if (!(IsWindowsNt() ? FloppyPresentNt(unit) : FloppyPresentVwin32(unit))) return;
    DriveEntry* entry = BeginDriveEntry();
    entry->Unit = unit;
    entry->ReadSectors = FloppyReadBlocks;
    entry->WriteSectors = FloppyWriteBlocks;
    entry->FormatVolume = DisketteImageFormatter;
    entry->BlocksPerSector = 1;
    DisketteDriveName(unit, entry->Name);
    CommitDriveEntry();
}

void AddImageDrives()
{
    for (unsigned key = 1; key <= kDiskImageKeys && DriveCount < kMaxDrives; ++key) {
        char name[16];
        std::snprintf(name, sizeof name, "Image%u", key);
        char path[sizeof ImageTable[0].path];
        if (ReadProfileString(kDiskImagesSection, name, "", path, sizeof path, IniPath) == 0) continue;
        // Listed, not kept open: the file is locked only while its drive is
        // in use, so other programs may use every image that is not.
        const int slot = ListImage(path, kBlockSize, true);
        if (slot < 0) continue;
        if (!AddImageDrive(slot)) CloseImage(slot);
    }
}

void CompactInquiryText(const uint8_t* text, size_t length, char* out)
{
    size_t used = 0;
    for (size_t i = 0; i < length && text[i] != 0; ++i) {
        if (text[i] == ' ' && i > 0 && text[i - 1] == ' ') continue;
        out[used++] = text[i] < 32 || text[i] == 127 ? '?' : static_cast<char>(text[i]);
    }
    out[used] = 0;
}

void AspiDriveName(const char* typeText, unsigned adapter, unsigned target, const uint8_t* identification,
                   char* out)
{
    constexpr size_t kIdentification = 24;
    char compact[kIdentification + 1];
    CompactInquiryText(identification, kIdentification, compact);
    char whole[64];
    std::snprintf(whole, sizeof whole, "[WASPI-%s %1u%1u] %s", typeText, adapter % 10, target % 10, compact);
    whole[30] = 0;  // the whole name is cut to 30 characters
    std::memcpy(out, whole, std::strlen(whole) + 1);
}

void PhysicalDriveName(unsigned number, const char* sizeText, char* out)
{
    std::snprintf(out, 32, "[DRIVE %u] (%s)", number, sizeText);
}

void CdromDriveName(unsigned letterIndex, char* out)
{
    std::snprintf(out, 32, "[CDROM %c]", static_cast<char>('A' + letterIndex % 26));
}

void DisketteDriveName(unsigned unit, char* out)
{
    std::snprintf(out, 32, "[DISKETTE %c]", static_cast<char>('A' + unit % 26));
}

bool HasMacSignature(DriveEntry* entry)
{
    constexpr uint16_t kBlocks = 8;
    static_assert(kBlocks * kBlockSize <= kScratchBufferSize);
    if (entry == nullptr || entry->ReadSectors == nullptr) return false;
    const uint32_t saved = StatusCode;
    StatusCode = 0;
    // The first read only wakes the device (a drive that was asleep may
    // answer it with stale data); the second is the one looked at.
    entry->ReadSectors(ScratchBuffer, kBlocks, 0, entry);
    StatusCode = 0;
    const int32_t got = entry->ReadSectors(ScratchBuffer, kBlocks, 0, entry);
    StatusCode = saved;
    for (int32_t block : {1, 2, 4}) {
        if (block >= got) break;
        const uint8_t* at = ScratchBuffer + block * kBlockSize;
        const uint16_t signature = static_cast<uint16_t>(at[0] << 8 | at[1]);
        if (signature == 0x504D || signature == 0x5453 || signature == 0x4244) return true;
    }
    return false;
}

void FillMacDriveBox(WindowHandle window)
{
    WindowSystem& ws = Ws();
    ws.SetControlText(kIdMacDriveLabel, "Mac Drive:");
    if (DriveCount == 0) ws.ShowMessage(window, kNoDrives, nullptr, kMbOk | kMbIconNone);
    for (uint32_t i = 0; i < DriveCount; ++i) ws.ComboAdd(kIdMacDriveBox, DriveTable[i].Name);
}

void FillMacDriveBox(DialogControls& dialog)
{
    dialog.SetText(kIdMacDriveLabel, "Mac Drive:");
    if (DriveCount == 0) dialog.ShowMessage(kNoDrives, nullptr, kMbOk | kMbIconNone);
    for (uint32_t i = 0; i < DriveCount; ++i) dialog.ComboAdd(kIdMacDriveBox, DriveTable[i].Name);
}
