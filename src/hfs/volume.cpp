#include "hfs/volume.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/status.h"
#include "disk/drive_table.h"
#include "hfs/bitmap.h"
#include "hfs/btree_node.h"
#include "hfs/fork_io.h"
#include "hfs/mac_time.h"
#include "hfs/volume_scan.h"

MacVolumeState MacVolume;
BTreeFileRecord ExtentsFileRecord;
BTreeFileRecord CatalogFileRecord;

namespace {

// A volume whose master block does not describe a usable volume is not
// offered for opening: "No Mac HFS volumes found".
void RejectVolume()
{
    if (StatusCode == 0) StatusCode = kStatusNoVolume;
}

// Allocation blocks must be whole 512-byte blocks and the bitmap must lie
// before the allocation area; everything else divides by or indexes with
// these. An allocation area longer than the volume is read where it lies
// inside and never written (VolumeWriteRefusal).
bool MdbDescribesVolume(const uint8_t* mdb)
{
    const uint32_t blockBytes = GetU32(mdb + kMdbAllocBlockSize);
    if (blockBytes < kHfsBlockSize || blockBytes % kHfsBlockSize != 0) return false;
    const uint32_t perBlock = blockBytes / kHfsBlockSize;
    if (perBlock > 0xFFFF) return false;
    const uint32_t bitmapBlocks = (GetU16(mdb + kMdbAllocBlocks) + 4095u) / 4096u;
    const uint32_t bitmapStart = GetU16(mdb + kMdbBitmapStart);
    if (bitmapStart < 3 || bitmapStart + bitmapBlocks > GetU16(mdb + kMdbFirstAllocBlock)) return false;
    return true;
}

BlockBuffer* ReadHeaderNode(ForkRef* file)
{
    BlockBuffer* header = nullptr;
    if (ReadForkNode(&header, 0, kDataFork, file) < 1 || !header) return nullptr;
    if (!CheckHeaderNode(header, file)) return nullptr;
    PinBlock(header);
    return header;
}

}  // namespace

uint16_t VolumeAllocBlockCount() { return MacVolume.mdb ? GetU16(MacVolume.mdb->data + kMdbAllocBlocks) : 0; }

void InitBTreeFileRecord(uint32_t fileId)
{
    const bool extents = fileId == kExtentsFileId;
    BTreeFileRecord& record = extents ? ExtentsFileRecord : CatalogFileRecord;
    ForkRef& ref = extents ? MacVolume.extentsFile : MacVolume.catalogFile;
    const uint8_t* mdb = MacVolume.mdb->data;
    record = BTreeFileRecord{};
    ref = ForkRef{fileId, &record, 0};
    PutU32(fileId, record.data + kFileRecFileId);
    const uint8_t* size = mdb + (extents ? kMdbExtentsSize : kMdbCatalogSize);
    std::memcpy(record.data + kFileRecDataLogical, size, sizeof(uint32_t));
    std::memcpy(record.data + kFileRecDataPhysical, size, sizeof(uint32_t));
    std::memcpy(record.data + kFileRecDataExtents, mdb + (extents ? kMdbExtentsExtents : kMdbCatalogExtents),
                kExtentRecordSize);
}

void OpenVolume()
{
    StatusCode = 0;
    BlockBuffer* mdb = nullptr;
    if (GetVolumeBlock(&mdb, kMdbBlock, 1) < 1 || !mdb) return;
    PinBlock(mdb);
    if (GetU16(mdb->data + kMdbSignature) != kHfsSignature || !MdbDescribesVolume(mdb->data)) {
        UnpinBlock(mdb);
        RejectVolume();
        return;
    }
    MacVolume.mdb = mdb;
    MacVolume.freeSearchStart = 0;
    MacVolume.writeRefusal = VolumeWriteRefusal(mdb->data);
    MacVolume.allocBlockSize = static_cast<uint16_t>(GetU32(mdb->data + kMdbAllocBlockSize) / kHfsBlockSize);
    MacVolume.firstAllocBlock = GetU16(mdb->data + kMdbFirstAllocBlock);

    InitBTreeFileRecord(kExtentsFileId);
    PinBlock(&ExtentsFileRecord);
    MacVolume.extentsHeader = ReadHeaderNode(&MacVolume.extentsFile);
    if (!MacVolume.extentsHeader) {
        ReportCorruption("extents header node");
        return;
    }
    InitBTreeFileRecord(kCatalogFileId);
    PinBlock(&CatalogFileRecord);
    MacVolume.catalogHeader = ReadHeaderNode(&MacVolume.catalogFile);
    if (!MacVolume.catalogHeader) ReportCorruption("catalog header node");
}

void UpdateAlternateMdb()
{
    BlockBuffer* alternate = nullptr;
    GetVolumeBlock(&alternate, MacVolume.volumeSize - kAlternateMdbFromEnd, 0);
    if (!alternate) return;
    BlockMove(alternate, 0, MacVolume.mdb->data, kHfsBlockSize);
}

namespace {

// The most blocks one write-back transfer carries.
constexpr size_t kMaxRunBlocks = 64;

// Copies a grown or re-mapped B-tree file's size and first extents into the
// MDB and refreshes the alternate copy. The record stays marked until the
// write-back has reached the medium, so a failed flush still rebuilds it.
void SaveBTreeFileRecord(BTreeFileRecord& record, uint16_t sizeOffset, uint16_t extentsOffset)
{
    if (!(record.flags & kBlockDirty)) return;
    BlockMove(MacVolume.mdb, sizeOffset, record.data + kFileRecDataPhysical, sizeof(uint32_t));
    BlockMove(MacVolume.mdb, extentsOffset, record.data + kFileRecDataExtents, kExtentRecordSize);
    UpdateAlternateMdb();
}

// Moves `count` blocks at absolute `block`, however the drive splits the run.
bool TransferRun(uint8_t* data, uint32_t block, size_t count, bool write)
{
    while (count > 0) {
        const uint16_t wanted = static_cast<uint16_t>(count);
        const uint16_t moved = write ? WriteDeviceBlocks(data, wanted, block) : ReadDeviceBlocks(data, wanted, block);
        if (moved == 0) return false;
        data += size_t{moved} * kHfsBlockSize;
        block += moved;
        count -= moved;
    }
    return true;
}

// Dirty blocks that follow each other on the medium, written in one transfer.
struct DirtyRun {
    size_t first;  // index into the sorted dirty list
    size_t count;
};

}  // namespace

int FlushVolume()
{
    if (!VolumeIsOpen() || StatusCode != 0) return 1;
    // Blocks freed since the last flush become free in the same write-back
    // that drops their owners.
    ReleasePendingFrees();
    if (StatusCode != 0) return 1;
    BlockPutU32(MacNow(), MacVolume.mdb, kMdbModified);
    SaveBTreeFileRecord(ExtentsFileRecord, kMdbExtentsSize, kMdbExtentsExtents);
    SaveBTreeFileRecord(CatalogFileRecord, kMdbCatalogSize, kMdbCatalogExtents);

    std::vector<BlockBuffer*> dirty = DirtyBuffers();
    std::sort(dirty.begin(), dirty.end(), [](const BlockBuffer* a, const BlockBuffer* b) { return a->block < b->block; });
    const size_t most = std::clamp<size_t>(MaxTransferBytes / kHfsBlockSize, 1, kMaxRunBlocks);
    std::vector<DirtyRun> runs;
    size_t longest = 0;
    for (size_t i = 0; i < dirty.size();) {
        size_t count = 1;
        while (i + count < dirty.size() && count < most && dirty[i + count]->block == dirty[i]->block + count) ++count;
        runs.push_back(DirtyRun{i, count});
        longest = std::max(longest, count);
        i += count;
    }

    // What the medium holds now, put back if a write fails part-way: a flush
    // reaches the medium whole or not at all, as far as the drive allows. The
    // cache kept a copy of most blocks as they turned dirty; the others (new
    // B-tree nodes, the alternate MDB) are read. A single block (a command
    // that changed nothing but the MDB's date) is written whole or not at all
    // by the drive itself.
    const bool guarded = dirty.size() > 1;
    std::vector<uint8_t> before(guarded ? dirty.size() * kHfsBlockSize : 0);
    for (size_t r = 0; guarded && r < runs.size(); ++r) {
        const DirtyRun& run = runs[r];
        uint8_t* const into = before.data() + run.first * kHfsBlockSize;
        bool known = true;
        for (size_t k = 0; k < run.count && known; ++k) {
            const uint8_t* copy = MediumCopy(dirty[run.first + k]);
            if (copy) std::memcpy(into + k * kHfsBlockSize, copy, kHfsBlockSize);
            known = copy != nullptr;
        }
        if (!known && !TransferRun(into, dirty[run.first]->block, run.count, false)) return 1;
    }
    std::vector<uint8_t> after(longest * kHfsBlockSize);
    for (size_t r = 0; r < runs.size(); ++r) {
        const DirtyRun& run = runs[r];
        for (size_t k = 0; k < run.count; ++k)
            std::memcpy(after.data() + k * kHfsBlockSize, dirty[run.first + k]->data, kHfsBlockSize);
        if (TransferRun(after.data(), dirty[run.first]->block, run.count, true)) continue;
        const uint32_t failure = StatusCode;
        for (size_t u = 0; guarded && u <= r; ++u) {
            StatusCode = 0;
            TransferRun(before.data() + runs[u].first * kHfsBlockSize, dirty[runs[u].first]->block, runs[u].count,
                        true);
        }
        StatusCode = failure;
        return 1;
    }
    MarkDirtyBuffersClean();
    ExtentsFileRecord.flags &= static_cast<uint8_t>(~kBlockDirty);
    CatalogFileRecord.flags &= static_cast<uint8_t>(~kBlockDirty);
    return 1;
}

int DiscardVolumeChanges()
{
    // The owners of the blocks freed since the last flush come back.
    MacVolume.pendingFree.clear();
    const std::vector<BlockBuffer*> dirty = DirtyBuffers();
    for (BlockBuffer* b : dirty) {
        if (ReadDeviceBlocks(b->data, 1, b->block) < 1) {
            StatusCode = kStatusReadError;
            return -1;
        }
        b->loaded = true;
        b->matchesMedium = true;
        b->nodeCheck = NodeCheck::Unchecked;
        const bool pinnedByVolume =
            b == MacVolume.mdb || b == MacVolume.extentsHeader || b == MacVolume.catalogHeader;
        b->flags = pinnedByVolume ? kBlockPinned : 0;
    }
    if (!VolumeIsOpen()) return 0;
    MacVolume.freeSearchStart = 0;
    if (ExtentsFileRecord.flags & kBlockDirty) {
        InitBTreeFileRecord(kExtentsFileId);
        ExtentsFileRecord.flags = kBlockPinned;
    }
    if (CatalogFileRecord.flags & kBlockDirty) {
        InitBTreeFileRecord(kCatalogFileId);
        CatalogFileRecord.flags = kBlockPinned;
    }
    return 0;
}
