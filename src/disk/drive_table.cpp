#include "disk/drive_table.h"

#include <cstring>

#include "core/prefs.h"
#include "core/status.h"
#include "disk/aspi.h"
#include "disk/image_drive.h"
#include "disk/windows_devices.h"

DriveEntry DriveTable[kDriveTableRoom];
uint32_t DriveCount = 0;
uint8_t SectorBuffer[kSectorBufferSize];
uint8_t ScratchBuffer[kScratchBufferSize];
uint32_t MaxTransferBytes = 32768;

DriveEntry* BeginDriveEntry()
{
    // Once the table is full, later drives are still built (in the slot after
    // the last listed one) but CommitDriveEntry drops them.
    uint32_t slot = DriveCount < kMaxDrives ? DriveCount : kMaxDrives;
    DriveTable[slot] = DriveEntry{};
    return &DriveTable[slot];
}

void CommitDriveEntry()
{
    if (DriveCount < kMaxDrives) ++DriveCount;
}

namespace {

// How many whole device sectors of `blocksPerSector` blocks fit in
// SectorBuffer; 0 for a block factor that cannot be staged at all.
uint32_t SectorsThatFit(uint32_t blocksPerSector)
{
    if (blocksPerSector == 0) return 0;
    return kSectorBufferSize / (blocksPerSector * kBlockSize);
}

}  // namespace

int32_t MappedReadBlocks(uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry, DeviceSectorOp read)
{
    if (count == 0) return 0;  // nothing asked, nothing moved: the device is not touched
    const uint32_t f = entry->BlocksPerSector;
    const uint32_t room = SectorsThatFit(f);
    if (room == 0 || read == nullptr) {
        StatusCode = kStatusReadError;
        return 0;
    }

    const uint32_t sector = first / f;
    const uint32_t skip = first % f;
    uint32_t n = count < f ? 1 : count / f;  // whole sectors; a remainder waits for the next call
    if (n > room) n = room;

    const int32_t r = read(SectorBuffer, n, sector, entry);
    if (r <= 0) {
        StatusCode = kStatusReadError;
        return 0;
    }
    // A device layer that claims more than it was asked for is not believed.
    const uint32_t got = static_cast<uint32_t>(r) < n ? static_cast<uint32_t>(r) : n;

    uint32_t d = f * got - skip;
    if (d > count) d = count;
    std::memcpy(buffer, SectorBuffer + skip * kBlockSize, d * kBlockSize);
    return static_cast<int32_t>(d);
}

int32_t MappedWriteBlocks(const uint8_t* buffer, uint16_t count, uint32_t first, DriveEntry* entry,
                          DeviceSectorOp read, DeviceSectorOp write)
{
    if (count == 0) return 0;
    const uint32_t f = entry->BlocksPerSector;
    const uint32_t room = SectorsThatFit(f);
    if (room == 0 || write == nullptr) {
        StatusCode = kStatusWriteError;
        return 0;
    }

    const uint32_t sector = first / f;
    const uint32_t skip = first % f;
    uint32_t n;
    uint32_t m;  // blocks taken from the caller
    if (skip != 0 || count < f) {
        // Part of one sector: fetch it so the blocks around the new ones survive.
        n = 1;
        if (read == nullptr || read(SectorBuffer, 1, sector, entry) <= 0) {
            StatusCode = kStatusWriteError;
            return 0;
        }
        m = f - skip;
        if (m > count) m = count;
    } else {
        n = count / f;
        if (n > room) n = room;
        m = f * n;
    }

    std::memcpy(SectorBuffer + skip * kBlockSize, buffer, m * kBlockSize);

    const int32_t w = write(SectorBuffer, n, sector, entry);
    if (w <= 0) {
        StatusCode = kStatusWriteError;
        return 0;
    }
    const uint32_t put = static_cast<uint32_t>(w) < n ? static_cast<uint32_t>(w) : n;

    uint32_t done = f * put - skip;
    if (done > count) done = count;
    return static_cast<int32_t>(done);
}

uint32_t DriveSectorSize(const DriveEntry* entry)
{
    if (entry->ReadSectors == ImageReadBlocks) {
        const uint32_t slot = entry->Unit;
        if (slot < kMaxImages && ImageTable[slot].used) return ImageTable[slot].sectorSize;
    }
    if (entry->ReadSectors == CdromReadBlocks) {
        // A CD-ROM that cannot tell (a drive letter mapped to an image file
        // knows no geometry) keeps the sectors every CD-ROM has.
        const uint32_t size = CdromSectorSize(entry->Unit);
        return size != 0 ? size : 2048;
    }
    if (entry->ReadSectors == PhysicalReadBlocks) {
        const uint32_t size = PhysicalSectorSize(entry->Unit);
        return size != 0 ? size : kBlockSize;
    }
    if (entry->ReadSectors == AspiReadBlocks) {
        const uint32_t size = AspiReadCapacity(entry->HostAdapter, entry->Unit, nullptr);
        if (size != 0) return size;
    }
    return kBlockSize;
}

uint64_t DriveBlockCount(const DriveEntry* entry)
{
    if (entry->ReadSectors == ImageReadBlocks) {
        const uint32_t slot = entry->Unit;
        if (slot < kMaxImages && ImageTable[slot].used) {
            const ImageSlot& s = ImageTable[slot];
            return s.dataLength / s.sectorSize * (s.sectorSize / kBlockSize);
        }
    }
    if (entry->ReadSectors == PhysicalReadBlocks && entry->BlocksPerSector != 0) {
        // The exact length, not the geometry's product, which leaves out
        // the last partial cylinder: a volume there must not look as if it
        // ran past the end of the disk.
        const uint64_t sectorBytes = uint64_t{entry->BlocksPerSector} * kBlockSize;
        return PhysicalDriveLength(entry->Unit) / sectorBytes * entry->BlocksPerSector;
    }
    if (entry->ReadSectors == AspiReadBlocks) {
        uint32_t sectors = 0;
        const uint32_t size = AspiReadCapacity(entry->HostAdapter, entry->Unit, &sectors);
        return uint64_t{sectors} * (size / kBlockSize);
    }
    return 0;
}

bool IsDisketteDrive(const DriveEntry* entry) { return entry->ReadSectors == FloppyReadBlocks; }

void SetTransferLimit()
{
    uint32_t bytes = static_cast<uint32_t>(Prefs.MaxIOBufSzK) * 1024;
    if (bytes > 32768) bytes = 32768;
    if (bytes < 4096) bytes = 4096;
    MaxTransferBytes = bytes;
}
