// A fork's extents: three in its catalog record, the rest in records of the
// extents overflow B-tree.
#pragma once
#include <cstdint>

#include "hfs/bytes.h"
#include "hfs/volume.h"

// Where an extent record lies: the buffer, the offset of its three
// descriptors, and the fork allocation block at which it begins.
struct ExtentRecordPos {
    BlockData* buffer;
    uint16_t offset;
    uint16_t firstBlock;
};

// The extent record that should cover fork allocation block `block`.
// False when there is none (StatusCode set when a read failed or the tree is
// damaged).
bool FindExtentRecord(uint16_t block, uint8_t fork, const ForkRef* ref, ExtentRecordPos* out);

// Sum of the three counts of an extent record.
uint32_t ExtentRecordBlocks(const uint8_t* record);
