// Finding the HFS volumes of the drive in use: a bare volume at block 0, or
// the volumes of an Apple partition map or of the older 'TS' map. All reads
// go straight to the drive, with absolute block numbers, into ScratchBuffer.
// Beside each listed volume the scan keeps what it found (volume_scan.h):
// partitions are measured against the device in 64-bit arithmetic, and a
// volume that cannot be written without touching blocks that are not its own
// is listed but marked read only.
#include "hfs/volume_scan.h"

#include <cstring>
#include <vector>

#include "core/main_state.h"
#include "core/status.h"
#include "disk/drive_table.h"
#include "hfs/bytes.h"
#include "hfs/listing.h"
#include "hfs/volume.h"

namespace {

constexpr uint16_t kApplePartitionMap = 0x504D;  // "PM"
constexpr uint16_t kOldPartitionMap = 0x5453;    // "TS"
constexpr uint16_t kHfsPlusSignature = 0x482B;   // "H+", at byte 1024 of the volume like an MDB
constexpr uint16_t kHfsxSignature = 0x4858;      // "HX"
constexpr uint16_t kMfsSignature = 0xD2D7;       // the flat file system of the first Macs
// The old partition map: after its signature, up to 42 entries of a start
// block, a block count and a file system ID (u32 each).
constexpr unsigned kOldMapEntries = 42;
constexpr unsigned kOldMapFirstEntry = 2;
constexpr unsigned kOldMapEntrySize = 12;
constexpr unsigned kOldMapEntryStart = 0;
constexpr unsigned kOldMapEntryLength = 4;
// A partition map lists far fewer entries; this only bounds a damaged one.
constexpr unsigned kMaxMapEntries = 4096;
// Apple partition map entry fields: one entry per block from block 1.
constexpr unsigned kMapSignature = 0;   // u16, kApplePartitionMap
constexpr unsigned kMapStart = 8;       // u32, first block of the partition
constexpr unsigned kMapLength = 12;     // u32, blocks
constexpr unsigned kMapName = 16;       // 32 bytes, zero-terminated
constexpr unsigned kMapNameBytes = 32;
constexpr unsigned kMapType = 48;       // 32 bytes, zero-terminated
constexpr uint64_t kMaxBlock = 0xFFFFFFFFu;

// Every partition of the map that holds something, in 512-byte blocks, to
// find volumes whose partition overlaps another.
struct MapPartition {
    uint64_t start;
    uint64_t length;
    unsigned entry;  // 1-based entry number in the map
};

std::vector<ScannedVolume> g_found;
std::vector<uint64_t> g_foundLength;   // each found volume's partition length, unclamped
std::vector<unsigned> g_foundEntry;    // each found volume's map entry; 0 for a bare volume
std::vector<MapPartition> g_partitions;
uint64_t g_deviceBlocks = 0;           // 0 when the device cannot tell

DriveEntry* Drive() { return &DriveTable[MacDriveIndex]; }

bool ReadScratch(uint64_t block)
{
    if (block > kMaxBlock) {
        ReportCorruption("partition beyond 2 TB");
        return false;
    }
    ReadDeviceBlocks(ScratchBuffer, 1, static_cast<uint32_t>(block));
    return StatusCode == 0;
}

std::string BlockText(uint64_t n) { return std::to_string(n); }

// Appends the volume to the pane's list and its finding to ours, keeping the
// two parallel (the pane's list stops at 20).
void ListVolume(ScannedVolume found, uint64_t partitionLength, unsigned entry, const uint8_t* nameSource)
{
    const unsigned before = MacPaneState.count;
    AddVolumeItem(found.partitionStart, found.volumeSize, nameSource);
    if (MacPaneState.count <= before) return;
    g_found.push_back(std::move(found));
    g_foundLength.push_back(partitionLength);
    g_foundEntry.push_back(entry);
}

// An MDB-shaped buffer carrying only a name, for entries without an MDB.
struct NameOnly {
    uint8_t bytes[kHfsBlockSize] = {};
    explicit NameOnly(const uint8_t* text, size_t length)
    {
        size_t n = 0;
        while (n < length && n < kMaxVolumeName && text[n] != 0) ++n;
        bytes[kMdbVolumeName] = static_cast<uint8_t>(n);
        std::memcpy(bytes + kMdbVolumeName + 1, text, n);
    }
    explicit NameOnly(const char* text) : NameOnly(reinterpret_cast<const uint8_t*>(text), std::strlen(text)) {}
};

// Why an HFS volume with this MDB, `volumeBlocks` long, must not be written:
// a wrapped HFS+ volume lies in blocks its bitmap may call free, and an
// allocation area that reaches the alternate MDB's block would have files
// overwritten by it.
const char* MdbWriteRefusal(const uint8_t* mdb, uint64_t volumeBlocks)
{
    if (GetU16(mdb + kMdbEmbedSignature) == kHfsPlusSignature)
        return "it holds an HFS+ volume, which this program does not read or write";
    const uint32_t blockBytes = GetU32(mdb + kMdbAllocBlockSize);
    if (blockBytes < kHfsBlockSize || blockBytes % kHfsBlockSize != 0) return nullptr;  // refused when opened
    const uint64_t allocEnd =
        GetU16(mdb + kMdbFirstAllocBlock) + uint64_t{GetU16(mdb + kMdbAllocBlocks)} * (blockBytes / kHfsBlockSize);
    if (volumeBlocks != 0 && allocEnd + kAlternateMdbFromEnd > volumeBlocks)
        return "its master block describes a volume larger than its partition";
    return nullptr;
}

// What block 2 of a volume holds, when it is a volume at all.
bool KindOfVolume(const uint8_t* block, VolumeKind* kind)
{
    switch (GetU16(block)) {
    case kHfsSignature:
        *kind = GetU16(block + kMdbEmbedSignature) == kHfsPlusSignature ? VolumeKind::HfsWrapper : VolumeKind::Hfs;
        return true;
    case kHfsPlusSignature: *kind = VolumeKind::HfsPlus; return true;
    case kHfsxSignature: *kind = VolumeKind::Hfsx; return true;
    case kMfsSignature: *kind = VolumeKind::Mfs; return true;
    default: return false;
    }
}

bool Refused(VolumeKind kind)
{
    return kind == VolumeKind::HfsPlus || kind == VolumeKind::Hfsx || kind == VolumeKind::Mfs;
}

std::string RefusalText(VolumeKind kind)
{
    return std::string(VolumeKindText(kind)) + ", which this program does not read";
}

// Reads the MDB of a partition and lists what it holds. A partition that
// cannot be read is listed as unreadable and the scan goes on. `name` is the
// map's name of the partition (32 bytes), or null.
void TryPartition(uint32_t f, uint32_t start, uint32_t length, unsigned entry, const uint8_t* name)
{
    const uint64_t first = uint64_t{f} * start;
    const uint64_t size = uint64_t{f} * length;
    uint8_t mapName[kMapNameBytes] = {};
    if (name) std::memcpy(mapName, name, sizeof mapName);
    const NameOnly label(mapName, name ? sizeof mapName : 0);

    ScannedVolume found;
    found.partitionStart = static_cast<uint32_t>(first > kMaxBlock ? kMaxBlock : first);
    // Block numbers past the partition's start stay below 2^32.
    const uint64_t room = kMaxBlock - found.partitionStart;
    found.volumeSize = static_cast<uint32_t>(size > room ? room : size);

    const uint64_t mdbEnd = first + kMdbBlock + 1;
    if (mdbEnd > kMaxBlock || (g_deviceBlocks != 0 && mdbEnd > g_deviceBlocks)) {
        found.kind = VolumeKind::Unreadable;
        found.problem = "its partition starts at block " + BlockText(first) + ", past the end of the disk" +
                        (g_deviceBlocks ? " (" + BlockText(g_deviceBlocks) + " blocks)" : std::string());
        ListVolume(std::move(found), size, entry, label.bytes);
        return;
    }
    if (!ReadScratch(first + kMdbBlock)) {
        StatusCode = 0;
        found.kind = VolumeKind::Unreadable;
        found.problem = "its master block (block " + BlockText(first + kMdbBlock) + ") could not be read";
        ListVolume(std::move(found), size, entry, label.bytes);
        return;
    }
    if (!KindOfVolume(ScratchBuffer, &found.kind)) return;
    if (Refused(found.kind)) {
        // An MFS volume's name lies where an HFS volume's does.
        const uint8_t* nameSource = found.kind == VolumeKind::Mfs ? ScratchBuffer : label.bytes;
        found.problem = RefusalText(found.kind);
        ListVolume(std::move(found), size, entry, nameSource);
        return;
    }
    if (g_deviceBlocks != 0 && first + size > g_deviceBlocks)
        found.readOnlyReason = "its partition (blocks " + BlockText(first) + " to " + BlockText(first + size - 1) +
                               ") runs past the end of the disk (" + BlockText(g_deviceBlocks) + " blocks)";
    else if (size != found.volumeSize)
        found.readOnlyReason = "its partition runs past the last block this program can address";
    else if (const char* why = MdbWriteRefusal(ScratchBuffer, size))
        found.readOnlyReason = why;
    ListVolume(std::move(found), size, entry, ScratchBuffer);
}

void NotePartition(uint64_t start, uint64_t length, unsigned entry)
{
    if (length != 0) g_partitions.push_back(MapPartition{start, length, entry});
}

void ScanApplePartitionMap(uint32_t f)
{
    for (uint32_t k = 1; k <= kMaxMapEntries; ++k) {
        const uint32_t start = GetU32(ScratchBuffer + kMapStart);
        const uint32_t length = GetU32(ScratchBuffer + kMapLength);
        const uint8_t* type = ScratchBuffer + kMapType;
        if (std::memcmp(type, "Apple_Free", 11) != 0 && std::memcmp(type, "Apple_Extra", 12) != 0)
            NotePartition(uint64_t{f} * start, uint64_t{f} * length, k);
        if (std::memcmp(type, "Apple_HFS", 9) == 0) {
            if (start == 0) return;
            uint8_t name[kMapNameBytes];
            std::memcpy(name, ScratchBuffer + kMapName, sizeof name);
            TryPartition(f, start, length, k, name);
            if (StatusCode != 0) return;
        }
        if (!ReadScratch(uint64_t{f} * (k + 1))) return;
        if (GetU16(ScratchBuffer + kMapSignature) != kApplePartitionMap) return;
    }
}

void ScanOldPartitionMap(uint32_t f)
{
    for (unsigned i = 0; i < kOldMapEntries; ++i) {
        const uint8_t* mapEntry = ScratchBuffer + kOldMapFirstEntry + kOldMapEntrySize * i;
        const uint32_t start = GetU32(mapEntry + kOldMapEntryStart);
        if (start == 0) return;
        const uint32_t length = GetU32(mapEntry + kOldMapEntryLength);
        NotePartition(uint64_t{f} * start, uint64_t{f} * length, i + 1);
        TryPartition(f, start, length, i + 1, nullptr);
        if (StatusCode != 0) return;
        if (!ReadScratch(f)) return;  // the partition's MDB overwrote the map
    }
}

// A volume whose partition overlaps another partition of the map would
// write into that partition's blocks: it is only read.
void MarkOverlaps()
{
    for (size_t v = 0; v < g_found.size(); ++v) {
        ScannedVolume& found = g_found[v];
        if (g_foundEntry[v] == 0 || !found.readOnlyReason.empty() || !found.problem.empty()) continue;
        const uint64_t start = found.partitionStart;
        const uint64_t end = start + g_foundLength[v];
        for (const MapPartition& p : g_partitions) {
            if (p.entry == g_foundEntry[v] || p.start >= end || start >= p.start + p.length) continue;
            found.readOnlyReason = "its partition (map entry " + std::to_string(g_foundEntry[v]) + ", blocks " +
                                   BlockText(start) + " to " + BlockText(end - 1) + ") overlaps map entry " +
                                   std::to_string(p.entry) + " (blocks " + BlockText(p.start) + " to " +
                                   BlockText(p.start + p.length - 1) + ")";
            break;
        }
    }
}

// True when volume-relative block `block` of a volume at block 0 holds an MDB.
bool MdbAt(uint64_t block)
{
    if (block > kMaxBlock || (g_deviceBlocks != 0 && block >= g_deviceBlocks)) return false;
    const bool found = ReadDeviceBlocks(ScratchBuffer, 1, static_cast<uint32_t>(block)) == 1 &&
                       GetU16(ScratchBuffer + kMdbSignature) == kHfsSignature;
    StatusCode = 0;
    return found;
}

// A bare HFS volume: its size follows from its MDB, unless its alternate MDB
// is not where that size puts it but at the device's second-to-last block
// (where formatters that leave slack at the end put it); then the volume
// spans the device.
void ListBareVolume()
{
    uint8_t mdb[kHfsBlockSize];
    std::memcpy(mdb, ScratchBuffer, sizeof mdb);
    const uint32_t s = GetU32(mdb + kMdbAllocBlockSize) / kHfsBlockSize;
    if (s == 0) {
        StatusCode = kStatusNoVolume;  // allocation blocks below 512 bytes
        return;
    }
    const uint32_t firstAlloc = GetU16(mdb + kMdbFirstAllocBlock);
    uint64_t size = ((firstAlloc + s + 1) / s + uint64_t{GetU16(mdb + kMdbAllocBlocks)}) * s;
    if (g_deviceBlocks > kAlternateMdbFromEnd && g_deviceBlocks != size && !MdbAt(size - kAlternateMdbFromEnd) &&
        MdbAt(g_deviceBlocks - kAlternateMdbFromEnd))
        size = g_deviceBlocks;

    ScannedVolume found;
    found.kind = GetU16(mdb + kMdbEmbedSignature) == kHfsPlusSignature ? VolumeKind::HfsWrapper : VolumeKind::Hfs;
    found.volumeSize = static_cast<uint32_t>(size > kMaxBlock ? kMaxBlock : size);
    if (g_deviceBlocks != 0 && size > g_deviceBlocks)
        found.readOnlyReason = "the volume (" + BlockText(size) + " blocks) runs past the end of the disk (" +
                               BlockText(g_deviceBlocks) + " blocks)";
    else if (const char* why = MdbWriteRefusal(mdb, size))
        found.readOnlyReason = why;
    ListVolume(std::move(found), size, 0, mdb);
}

const ScannedVolume* FindingOfOpenVolume()
{
    for (const ScannedVolume& found : g_found)
        if (found.partitionStart == MacVolume.partitionStart && found.volumeSize == MacVolume.volumeSize)
            return &found;
    return nullptr;
}

}  // namespace

const ScannedVolume* ScannedVolumeAt(unsigned index) { return index < g_found.size() ? &g_found[index] : nullptr; }

unsigned ScannedVolumeCount() { return static_cast<unsigned>(g_found.size()); }

const char* VolumeKindText(VolumeKind kind)
{
    switch (kind) {
    case VolumeKind::Hfs: return nullptr;
    case VolumeKind::HfsWrapper: return "an HFS volume holding an HFS+ volume";
    case VolumeKind::HfsPlus: return "an HFS+ volume";
    case VolumeKind::Hfsx: return "an HFSX volume (case-sensitive HFS+)";
    case VolumeKind::Mfs: return "an MFS volume (the 400K diskette format)";
    case VolumeKind::Unreadable: return "an unreadable volume";
    }
    return nullptr;
}

const char* VolumeWriteRefusal(const uint8_t* mdb)
{
    if (const ScannedVolume* found = FindingOfOpenVolume(); found && !found->readOnlyReason.empty())
        return found->readOnlyReason.c_str();
    return MdbWriteRefusal(mdb, MacVolume.volumeSize);
}

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
        const uint16_t signature = GetU16(ScratchBuffer + i * kHfsBlockSize);
        if (signature == kApplePartitionMap || signature == kOldPartitionMap) return static_cast<int>(i);
        if (signature == kHfsSignature) return 1;
    }
    return deviceFactor;
}

void ForgetScannedVolumes()
{
    g_found.clear();
    g_foundLength.clear();
    g_foundEntry.clear();
    g_partitions.clear();
    g_deviceBlocks = 0;
}

void ScanVolumes()
{
    ForgetScannedVolumes();
    g_deviceBlocks = DriveBlockCount(Drive());
    const uint32_t f = static_cast<uint32_t>(ProbeBlockFactor());
    if (!ReadScratch(kMdbBlock)) return;
    const uint16_t bare = GetU16(ScratchBuffer + kMdbSignature);
    if (bare == kHfsSignature) {
        ListBareVolume();
        return;
    }
    VolumeKind bareKind = VolumeKind::Hfs;
    const bool refusedBare = KindOfVolume(ScratchBuffer, &bareKind) && Refused(bareKind);
    uint8_t block2[kHfsBlockSize];
    std::memcpy(block2, ScratchBuffer, sizeof block2);
    if (!ReadScratch(f)) return;
    const uint16_t signature = GetU16(ScratchBuffer + kMapSignature);
    if (signature == kApplePartitionMap) {
        ScanApplePartitionMap(f);
    } else if (signature == kOldPartitionMap) {
        ScanOldPartitionMap(f);
    } else if (refusedBare) {
        ScannedVolume found;
        found.kind = bareKind;
        found.volumeSize = static_cast<uint32_t>(g_deviceBlocks > kMaxBlock ? kMaxBlock : g_deviceBlocks);
        found.problem = RefusalText(bareKind);
        const NameOnly label(bareKind == VolumeKind::Hfsx ? "HFSX volume" : "HFS+ volume");
        ListVolume(std::move(found), g_deviceBlocks, 0, bareKind == VolumeKind::Mfs ? block2 : label.bytes);
        return;
    } else {
        StatusCode = kStatusNoVolume;
        return;
    }
    MarkOverlaps();
    // A map cut short keeps the volumes found before the cut.
    if (StatusCode != 0 && StatusCode != kStatusNoMemory && MacPaneState.count > 0) StatusCode = 0;
}

int CheckAlternateMdb()
{
    DriveEntry* drive = Drive();
    if (!drive->WriteSectors) return 0;
    // A volume its layout keeps from being written is opened read only
    // whatever its alternate MDB: there is nothing to ask.
    if (const ScannedVolume* found = FindingOfOpenVolume(); found && !found->readOnlyReason.empty()) return 0;
    uint16_t n = 0;
    if (MacVolume.volumeSize >= kAlternateMdbFromEnd)
        n = ReadDeviceBlocks(ScratchBuffer, 1, MacVolume.partitionStart + MacVolume.volumeSize - kAlternateMdbFromEnd);
    StatusCode = 0;
    if (n >= 1 && GetU16(ScratchBuffer + kMdbSignature) == kHfsSignature) return 0;
    const int answer = Ws().ShowMessage(MainWindow, "Mount volume read only?", "Can't find backup VIB",
                                        kMbYesNo | kMbIconQuestion);
    if (answer == kIdNo) {
        drive->Flags &= ~kDriveReadOnly;
        return 1;
    }
    drive->Flags |= kDriveReadOnly;
    return 0;
}
