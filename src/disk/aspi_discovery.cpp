// The SCSI step of discovery: every target of every host adapter the ASPI
// manager reports, in order, listed when it is a device type that can hold a
// Mac volume.
#include <cstring>

#include "disk/aspi.h"
#include "disk/discovery.h"
#include "disk/drive_table.h"

namespace {

struct ScsiKind {
    uint8_t type;  // peripheral device type, INQUIRY byte 0 bits 0-4
    const char* text;
    DriveTransferOp write;
};

constexpr ScsiKind kScsiKinds[] = {
    {0, "DISK", AspiWriteBlocks},  // direct access
    {4, "WORM", nullptr},          // write once
    {5, "CDRM", nullptr},          // CD-ROM
    {7, "OPTI", AspiWriteBlocks},  // optical memory
};

constexpr uint32_t kTargetsPerAdapter = 8;
constexpr uint8_t kRemovableBit = 0x80;  // INQUIRY byte 1
constexpr unsigned kIdentificationOffset = 8;

const ScsiKind* KindOf(uint8_t peripheral)
{
    for (const ScsiKind& kind : kScsiKinds)
        if (kind.type == (peripheral & 0x1F)) return &kind;
    return nullptr;
}

}  // namespace

void AddAspiDrives()
{
    if (AspiLoad() != 0) return;
    for (uint32_t adapter = 0; adapter < HostAdapterCount; ++adapter) {
        for (uint32_t target = 0; target < kTargetsPerAdapter; ++target) {
            if (AspiInquiry(adapter, target) != 0) continue;
            // The signature test below reads through SectorBuffer too.
            uint8_t inquiry[kInquiryLength];
            std::memcpy(inquiry, SectorBuffer, sizeof inquiry);
            const ScsiKind* kind = KindOf(inquiry[0]);
            if (kind == nullptr) continue;

            DriveEntry* entry = BeginDriveEntry();
            entry->ReadSectors = AspiReadBlocks;
            entry->WriteSectors = kind->write;
            entry->Unit = target;
            entry->HostAdapter = static_cast<uint16_t>(adapter);
            entry->BlocksPerSector = 1;
            // A fixed disk is listed only when it holds something Mac; a
            // removable drive may be given a Mac medium later.
            if ((inquiry[1] & kRemovableBit) == 0 && !HasMacSignature(entry)) continue;
            AspiDriveName(kind->text, adapter, target, inquiry + kIdentificationOffset, entry->Name);
            CommitDriveEntry();
        }
    }
}
