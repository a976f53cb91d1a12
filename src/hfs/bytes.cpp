#include "hfs/bytes.h"

#include <cstring>

namespace {
bool Fits(unsigned offset, unsigned count) { return offset <= kHfsBlockSize && count <= kHfsBlockSize - offset; }

void BeginChange(BlockData* block)
{
    if (block->flags & kBlockDirty) return;
    if (block->beforeFirstChange) block->beforeFirstChange(block);
    block->flags |= kBlockDirty;
}
}  // namespace

void BlockPutU8(uint8_t value, BlockData* block, unsigned offset)
{
    if (!Fits(offset, 1)) return;
    BeginChange(block);
    block->data[offset] = value;
}

void BlockPutU16(uint16_t value, BlockData* block, unsigned offset)
{
    if (!Fits(offset, 2)) return;
    BeginChange(block);
    PutU16(value, block->data + offset);
}

void BlockPutU32(uint32_t value, BlockData* block, unsigned offset)
{
    if (!Fits(offset, 4)) return;
    BeginChange(block);
    PutU32(value, block->data + offset);
}

void BlockFill(uint8_t value, BlockData* block, unsigned offset, unsigned count)
{
    if (count == 0 || !Fits(offset, count)) return;
    BeginChange(block);
    std::memset(block->data + offset, value, count);
}

void BlockMove(BlockData* block, unsigned offset, const uint8_t* source, unsigned count)
{
    if (count == 0 || !Fits(offset, count)) return;
    BeginChange(block);
    std::memmove(block->data + offset, source, count);
}
