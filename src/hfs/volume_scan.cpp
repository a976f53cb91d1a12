// Finding the HFS volumes of the drive in use: a bare volume at block 0, or
// the volumes of an Apple partition map or of the older 'TS' map. All reads
// go straight to the drive, with absolute block numbers, into ScratchBuffer.
#include <cstring>

#include "disk/drive_table.h"
#include "disk/status.h"
#include "hfs/bytes.h"
#include "hfs/listing.h"
#include "hfs/volume.h"
#include "ui/main_state.h"

namespace {

constexpr uint16_t kApplePartitionMap = 0x504D;  // "PM"
constexpr uint16_t kOldPartitionMap = 0x5453;    // "TS"
constexpr unsigned kOldMapEntries = 42;
// A partition map lists far fewer entries; this only bounds a damaged one.
constexpr unsigned kMaxMapEntries = 4096;

DriveEntry* Drive() { return &DriveTable[MacDriveIndex]; }

bool ReadScratch(uint64_t block)
{
    if (block > 0xFFFFFFFFu) {
        ReportCorruption("partition beyond 2 TB");
        return false;
    }
    ReadDeviceBlocks(ScratchBuffer, 1, static_cast<uint32_t>(block));
    return StatusCode == 0;
}

// Reads the MDB of a partition and lists it when it is one. False when the
// scan must end (a failed read).
bool TryPartition(uint32_t f, uint32_t start, uint32_t length)
{
    const uint64_t first = static_cast<uint64_t>(f) * start;
    if (!ReadScratch(first + 2)) return false;
    if (GetU16(ScratchBuffer) == kHfsSignature) {
        const uint64_t size = static_cast<uint64_t>(f) * length;
        AddVolumeItem(static_cast<uint32_t>(first), size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size),
                      ScratchBuffer);
    }
    return StatusCode == 0;
}

void ScanApplePartitionMap(uint32_t f)
{
    for (uint32_t k = 1; k <= kMaxMapEntries; ++k) {
        if (std::memcmp(ScratchBuffer + 48, "Apple_HFS", 9) == 0) {
            const uint32_t start = GetU32(ScratchBuffer + 8);
            const uint32_t length = GetU32(ScratchBuffer + 12);
            if (start == 0) return;
            if (!TryPartition(f, start, length)) return;
        }
        if (!ReadScratch(static_cast<uint64_t>(f) * (k + 1))) return;
        if (GetU16(ScratchBuffer) != kApplePartitionMap) return;
    }
}

void ScanOldPartitionMap(uint32_t f)
{
    for (unsigned i = 0; i < kOldMapEntries; ++i) {
        const uint32_t start = GetU32(ScratchBuffer + 2 + 12 * i);
        if (start == 0) return;
        const uint32_t length = GetU32(ScratchBuffer + 6 + 12 * i);
        if (!TryPartition(f, start, length)) return;
        if (!ReadScratch(f)) return;  // the partition's MDB overwrote the map
    }
}

}  // namespace

int ProbeBlockFactor()
{
    DriveEntry* drive = Drive();
    if (IsDisketteDrive(drive)) {
        drive->BlocksPerSector = 1;
        return 1;
    }
    uint32_t size = DriveSectorSize(drive);
    if (size < 512 || size > kScratchBufferSize) size = 512;
    const int deviceFactor = static_cast<int>(size / 512);
    drive->BlocksPerSector = static_cast<uint16_t>(deviceFactor);

    ReadDeviceBlocks(ScratchBuffer, 8, 0);
    StatusCode = 0;
    const uint16_t n = ReadDeviceBlocks(ScratchBuffer, 8, 0);
    StatusCode = 0;
    if (n < 1) return deviceFactor;
    for (unsigned i = 1; i < n; i *= 2) {
        const uint16_t signature = GetU16(ScratchBuffer + i * 512);
        if (signature == kApplePartitionMap || signature == kOldPartitionMap) return static_cast<int>(i);
        if (signature == kHfsSignature) return 1;
    }
    return deviceFactor;
}

void ScanVolumes()
{
    const uint32_t f = static_cast<uint32_t>(ProbeBlockFactor());
    if (!ReadScratch(2)) return;
    if (GetU16(ScratchBuffer) == kHfsSignature) {
        const uint32_t s = GetU32(ScratchBuffer + kMdbAllocBlockSize) / kHfsBlockSize;
        if (s == 0) {
            StatusCode = kStatusNoVolume;  // allocation blocks below 512 bytes
            return;
        }
        const uint32_t firstAlloc = GetU16(ScratchBuffer + kMdbFirstAllocBlock);
        const uint64_t size = static_cast<uint64_t>((firstAlloc + s + 1) / s + GetU16(ScratchBuffer + kMdbAllocBlocks)) * s;
        AddVolumeItem(0, size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size), ScratchBuffer);
        return;
    }
    if (!ReadScratch(f)) return;
    const uint16_t signature = GetU16(ScratchBuffer);
    if (signature == kApplePartitionMap)
        ScanApplePartitionMap(f);
    else if (signature == kOldPartitionMap)
        ScanOldPartitionMap(f);
    else
        StatusCode = kStatusNoVolume;
}

int CheckAlternateMdb()
{
    DriveEntry* drive = Drive();
    if (!drive->WriteSectors) return 0;
    uint16_t n = 0;
    if (MacVolume.volumeSize >= 2)
        n = ReadDeviceBlocks(ScratchBuffer, 1, MacVolume.partitionStart + MacVolume.volumeSize - 2);
    StatusCode = 0;
    if (n >= 1 && GetU16(ScratchBuffer) == kHfsSignature) return 0;
    const int answer = Ws().ShowMessage(MainWindow, "Mount volume read only?", "Can't find backup VIB",
                                        kMbYesNo | kMbIconQuestion);
    if (answer == kIdNo) {
        drive->Flags &= ~kDriveReadOnly;
        return 1;
    }
    drive->Flags |= kDriveReadOnly;
    return 0;
}
