// Reading and writing a fork by its own 512-byte block numbers, mapped
// through the fork's extents to volume blocks. B-tree nodes are fork blocks
// of the B-tree files read into the cache; file data moves directly.
#pragma once
#include <cstdint>

#include "hfs/cache.h"
#include "hfs/volume.h"

// Where fork block `forkBlock` lies: the volume-relative block, and how many
// blocks from there on belong to the same extent. Returns false when no
// extent covers the block; sets StatusCode 6 when the extents do not hold
// together (or, for a read, when the block is not covered).
bool MapForkBlock(uint32_t forkBlock, uint8_t fork, const ForkRef* ref, bool forWrite, uint32_t* volumeBlock,
                  uint32_t* available);

// Reads one fork block into the cache. Returns the blocks served (1) or 0.
uint16_t ReadForkNode(BlockBuffer** out, uint32_t forkBlock, uint8_t fork, ForkRef* ref);
// Copies one fork block into `out` (512 bytes): the cache's copy when it
// holds the block (changes not yet written back included), else straight from
// the medium without caching it. For a walk of a whole B-tree, which would
// otherwise fill the cache with every node. Returns 1, or 0 with StatusCode set.
uint16_t CopyForkNode(uint8_t* out, uint32_t forkBlock, uint8_t fork, ForkRef* ref);
// Reads up to `count` fork blocks straight into `data`; never crosses an
// extent boundary. Returns the blocks read, or 0 with StatusCode set.
uint16_t ReadForkBlocks(uint8_t* data, uint32_t forkBlock, uint16_t count, uint8_t fork, ForkRef* ref);
// Writes up to `count` fork blocks straight to the medium. Returns the blocks
// written; 0 without a status when the fork has no extent at `forkBlock`
// (the caller extends the fork), 0 with a status on failure.
uint16_t WriteForkBlocks(const uint8_t* data, uint32_t forkBlock, uint16_t count, uint8_t fork, ForkRef* ref);

// Writes `byteCount` bytes of `data` at byte `*position` (a multiple of 512)
// of the fork, extending the fork as needed; the last block is written whole,
// so `data` holds whole blocks. Adds byteCount to the fork's logical length
// and to *position. Returns 1, or 0 with StatusCode set.
int WriteForkBuffer(ForkRef* ref, uint8_t fork, uint32_t* position, const uint8_t* data, uint32_t byteCount);
