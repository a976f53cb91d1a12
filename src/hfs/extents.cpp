#include "hfs/extents.h"

#include <cstring>

#include "core/status.h"
#include "hfs/bitmap.h"
#include "hfs/btree_search.h"
#include "hfs/btree_update.h"
#include "hfs/catalog_keys.h"

uint32_t ExtentRecordBlocks(const uint8_t* record)
{
    uint32_t blocks = 0;
    for (unsigned i = 0; i < kExtentsPerRecord; ++i) blocks += GetU16(record + ExtentCountAt(i));
    return blocks;
}

bool FindExtentRecord(uint16_t block, uint8_t fork, const ForkRef* ref, ExtentRecordPos* out)
{
    const uint16_t offset = static_cast<uint16_t>(ref->recordOffset + ForkExtentsOffset(fork));
    const uint8_t* first = ref->recordBuffer->data + offset;
    if (block == 0 || block < ExtentRecordBlocks(first)) {
        *out = ExtentRecordPos{ref->recordBuffer, offset, 0};
        return true;
    }
    if (GetU16(first + ExtentCountAt(kExtentsPerRecord - 1)) == 0) return false;  // fewer than three extents: no overflow records
    // The extents file never has overflow records of its own; looking for
    // them would search the tree through itself.
    if (ref->fileId == kExtentsFileId) return false;
    uint16_t dataOffset = 0;
    uint16_t firstBlock = 0;
    BlockData* node = SearchExtents(ExtentsRoot(), block, fork, ref, &dataOffset, &firstBlock);
    if (!node) return false;
    *out = ExtentRecordPos{node, dataOffset, firstBlock};
    return true;
}

namespace {

uint32_t ForkAllocBlocks(const ForkRef* ref, uint8_t fork)
{
    const uint32_t physical = GetU32(ref->recordBuffer->data + ref->recordOffset + ForkPhysicalOffset(fork));
    return physical / (uint32_t{MacVolume.allocBlockSize} * kHfsBlockSize);
}

}  // namespace

void ExtendFork(ForkRef* ref, uint8_t fork, uint16_t* count)
{
    if (StatusCode != 0) return;
    if (*count == 0) *count = 1;
    const uint32_t owned = ForkAllocBlocks(ref, fork);
    if (owned >= 0xFFFF) {
        StatusCode = kStatusDiskFull;
        return;
    }
    const uint16_t last = owned == 0 ? 0 : static_cast<uint16_t>(owned - 1);
    ExtentRecordPos pos;
    if (!FindExtentRecord(last, fork, ref, &pos)) {
        if (StatusCode == 0) ReportCorruption("no extent record for the fork's last block");
        return;
    }
    ScopedPin pin(pos.buffer);
    uint8_t* descriptors = pos.buffer->data + pos.offset;
    // The last extent in use (the first when none is).
    unsigned chosen = 0;
    while (chosen + 1 < kExtentsPerRecord && GetU16(descriptors + ExtentCountAt(chosen + 1)) != 0) ++chosen;
    const uint16_t chosenStart = GetU16(descriptors + ExtentStartAt(chosen));
    const uint16_t chosenCount = GetU16(descriptors + ExtentCountAt(chosen));
    const uint32_t next = uint32_t{chosenStart} + chosenCount;

    uint16_t start = next > 0xFFFF ? 0 : static_cast<uint16_t>(next);
    uint16_t granted = *count;
    const bool inPlace = start != 0 && FindFreeRun(&start, &granted) >= 0;
    if (StatusCode != 0) return;
    if (inPlace || (next == 0 && FindFreeRun(&start, &granted) >= 0)) {
        // The fork owns nothing yet, or the blocks after it are free.
        if (StatusCode != 0) return;
        MarkAllocated(start, granted);
        BlockPutU16(static_cast<uint16_t>(chosenCount + granted), pos.buffer, pos.offset + ExtentCountAt(chosen));
        if (chosenCount == 0) BlockPutU16(start, pos.buffer, pos.offset + ExtentStartAt(chosen));
    } else {
        if (StatusCode != 0) return;
        start = 0;
        granted = *count;
        if (FindFreeRun(&start, &granted) < 0) {
            if (StatusCode == 0) StatusCode = kStatusDiskFull;
            return;
        }
        MarkAllocated(start, granted);
        if (chosen + 1 < kExtentsPerRecord) {
            BlockPutU16(start, pos.buffer, pos.offset + ExtentStartAt(chosen + 1));
            BlockPutU16(granted, pos.buffer, pos.offset + ExtentCountAt(chosen + 1));
        } else {
            const uint32_t forkBlock = pos.firstBlock + ExtentRecordBlocks(descriptors);
            if (forkBlock > 0xFFFF) {
                StatusCode = kStatusDiskFull;
                return;
            }
            AddExtentRecord(ref, fork, static_cast<uint16_t>(forkBlock), start, granted);
        }
    }
    if (StatusCode != 0) return;
    const uint16_t physical = static_cast<uint16_t>(ref->recordOffset + ForkPhysicalOffset(fork));
    BlockPutU32(GetU32(ref->recordBuffer->data + physical) +
                    uint32_t{granted} * MacVolume.allocBlockSize * kHfsBlockSize,
                ref->recordBuffer, physical);
    *count = granted;
}

void AddExtentRecord(const ForkRef* ref, uint8_t fork, uint16_t forkBlock, uint16_t start, uint16_t count)
{
    // The buffer's first byte is the record's size: key and extent record.
    uint8_t record[kMaxRecordBuffer] = {kExtentKeySize + kExtentRecordSize};
    uint8_t* key = record + 1;
    BuildExtentKey(ref->fileId, fork, forkBlock, key);
    PutU16(start, key + kExtentKeySize + ExtentStartAt(0));
    PutU16(count, key + kExtentKeySize + ExtentCountAt(0));
    BTreeInsertRecord(&MacVolume.extentsFile, record);
}

void FreeFork(ForkRef* ref, uint8_t fork)
{
    if (StatusCode != 0) return;
    const uint32_t owned = ForkAllocBlocks(ref, fork);
    ScopedPin pin(ref->recordBuffer);
    uint32_t block = 0;
    while (block < owned && StatusCode == 0) {
        ExtentRecordPos pos;
        if (!FindExtentRecord(static_cast<uint16_t>(block > 0xFFFF ? 0xFFFF : block), fork, ref, &pos)) {
            if (StatusCode == 0) ReportCorruption("fork blocks without an extent record");
            return;
        }
        uint8_t descriptors[kExtentRecordSize];
        std::memcpy(descriptors, pos.buffer->data + pos.offset, sizeof descriptors);
        const uint32_t blocks = ExtentRecordBlocks(descriptors);
        if (blocks == 0) {
            ReportCorruption("empty extent record inside a fork");
            return;
        }
        for (unsigned i = 0; i < kExtentsPerRecord; ++i)
            MarkFree(GetU16(descriptors + ExtentStartAt(i)), GetU16(descriptors + ExtentCountAt(i)));
        if (pos.firstBlock != 0) {
            uint8_t key[kExtentKeySize];
            BuildExtentKey(ref->fileId, fork, pos.firstBlock, key);
            BTreeDeleteRecord(&MacVolume.extentsFile, key);
        }
        block = uint32_t{pos.firstBlock} + blocks;
    }
}
