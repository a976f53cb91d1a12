#include "hfs/bytes.h"

#include <cstring>

#include "core/status.h"

namespace {
// A write that would run past the block comes from an offset the medium gave
// (a record that does not hold together), so it is damage, not a quiet no-op.
bool Fits(unsigned offset, unsigned count)
{
    if (offset <= kHfsBlockSize && count <= kHfsBlockSize - offset) return true;
    ReportCorruption("write past the end of a block");
    return false;
}

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
