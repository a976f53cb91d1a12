// Big-endian numbers, and the writes into cached blocks that mark them dirty.
#pragma once
#include <cstdint>

#include "hfs/layout.h"

inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t GetU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}
inline void PutU16(uint16_t value, uint8_t* p)
{
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}
inline void PutU32(uint32_t value, uint8_t* p)
{
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

enum : uint8_t {
    kBlockDirty = 0x01,
    kBlockPinned = 0x02,
};

// The shape shared by a cached block and the in-memory record of a B-tree
// file: 512 bytes of data and a flag byte (dirty, pinned). The cache sets
// `beforeFirstChange` on its buffers: it runs once as a clean block turns
// dirty, before any byte changes, so the cache can keep what the medium holds.
struct BlockData {
    uint8_t data[kHfsBlockSize];
    uint8_t flags;
    void (*beforeFirstChange)(BlockData*) = nullptr;
};

// Writes into a block; each marks it dirty. A write that would run past the
// block changes nothing and is reported as damage.
void BlockPutU8(uint8_t value, BlockData* block, unsigned offset);
void BlockPutU16(uint16_t value, BlockData* block, unsigned offset);
void BlockPutU32(uint32_t value, BlockData* block, unsigned offset);
void BlockFill(uint8_t value, BlockData* block, unsigned offset, unsigned count);
// Overlap-safe copy of `count` bytes from `source` to the block at `offset`;
// a count of 0 changes nothing and leaves the flag alone.
void BlockMove(BlockData* block, unsigned offset, const uint8_t* source, unsigned count);

inline void PinBlock(BlockData* block) { block->flags |= kBlockPinned; }
inline void UnpinBlock(BlockData* block) { block->flags &= static_cast<uint8_t>(~kBlockPinned); }
