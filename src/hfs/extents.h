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

// Allocates up to *count allocation blocks to the fork, right after its last
// extent when those blocks are free, else the first long-enough (or the
// longest) free run; *count receives the number granted (at least 1 on
// success). StatusCode 1 when the volume is full.
void ExtendFork(ForkRef* ref, uint8_t fork, uint16_t* count);
// Records a run of the fork that starts at fork allocation block `forkBlock`
// in a new extents overflow record.
void AddExtentRecord(const ForkRef* ref, uint8_t fork, uint16_t forkBlock, uint16_t start, uint16_t count);
// Frees every allocation block of the fork and deletes its overflow records.
// The file record's extents and lengths are left as they are.
void FreeFork(ForkRef* ref, uint8_t fork);
