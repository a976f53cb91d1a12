#include "hfs/extents.h"

#include "hfs/btree_search.h"

uint32_t ExtentRecordBlocks(const uint8_t* record)
{
    return static_cast<uint32_t>(GetU16(record + 2)) + GetU16(record + 6) + GetU16(record + 10);
}

bool FindExtentRecord(uint16_t block, uint8_t fork, const ForkRef* ref, ExtentRecordPos* out)
{
    const uint16_t offset = static_cast<uint16_t>(ref->recordOffset + ForkExtentsOffset(fork));
    const uint8_t* first = ref->recordBuffer->data + offset;
    if (block == 0 || block < ExtentRecordBlocks(first)) {
        *out = ExtentRecordPos{ref->recordBuffer, offset, 0};
        return true;
    }
    if (GetU16(first + 10) == 0) return false;  // fewer than three extents: no overflow records
    // The extents file never has overflow records of its own; looking for
    // them would search the tree through itself.
    if (ref->fileId == kExtentsFileId) return false;
    uint16_t dataOffset = 0;
    uint16_t firstBlock = 0;
    BlockData* node = SearchExtents(GetU32(MacVolume.extentsHeader->data + 16), block, fork, ref, &dataOffset,
                                    &firstBlock);
    if (!node) return false;
    *out = ExtentRecordPos{node, dataOffset, firstBlock};
    return true;
}
