#include "hfs/bytes.h"

#include <cstring>

namespace {
bool Fits(unsigned offset, unsigned count) { return offset <= kHfsBlockSize && count <= kHfsBlockSize - offset; }
}  // namespace

void BlockPutU8(uint8_t value, BlockData* block, unsigned offset)
{
    if (!Fits(offset, 1)) return;
    block->data[offset] = value;
    block->flags |= kBlockDirty;
}

void BlockPutU16(uint16_t value, BlockData* block, unsigned offset)
{
    if (!Fits(offset, 2)) return;
    PutU16(value, block->data + offset);
    block->flags |= kBlockDirty;
}

void BlockPutU32(uint32_t value, BlockData* block, unsigned offset)
{
    if (!Fits(offset, 4)) return;
    PutU32(value, block->data + offset);
    block->flags |= kBlockDirty;
}

void BlockFill(uint8_t value, BlockData* block, unsigned offset, unsigned count)
{
    if (count == 0 || !Fits(offset, count)) return;
    std::memset(block->data + offset, value, count);
    block->flags |= kBlockDirty;
}

void BlockMove(BlockData* block, unsigned offset, const uint8_t* source, unsigned count)
{
    if (count == 0 || !Fits(offset, count)) return;
    std::memmove(block->data + offset, source, count);
    block->flags |= kBlockDirty;
}
