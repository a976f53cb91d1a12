// B-tree nodes: 512 bytes, a 14-byte descriptor, records packed upward from
// offset 14 and their offsets stored downward from the end of the node.
// A node is checked once when it is read into the cache; a node that fails
// the check is never used.
#pragma once
#include <cstdint>

#include "hfs/cache.h"
#include "hfs/layout.h"
#include "hfs/volume.h"

inline uint8_t NodeType(const BlockData* node) { return node->data[kNodeType]; }
inline uint8_t NodeHeight(const BlockData* node) { return node->data[kNodeHeight]; }
inline uint16_t NodeRecordCount(const BlockData* node) { return GetU16(node->data + kNodeRecordCount); }
inline uint32_t NodeForwardLink(const BlockData* node) { return GetU32(node->data + kNodeForward); }
inline uint32_t NodeBackwardLink(const BlockData* node) { return GetU32(node->data + kNodeBackward); }
// Offset of record i (i == count gives the start of the free space).
inline uint16_t NodeRecordOffset(const BlockData* node, unsigned i) { return GetU16(node->data + NodeOffsetSlot(i)); }
inline uint16_t NodeRecordSize(const BlockData* node, unsigned i)
{
    return static_cast<uint16_t>(NodeRecordOffset(node, i + 1) - NodeRecordOffset(node, i));
}
// Offset of the data of the record whose key starts at `recordOffset`: the
// key length byte and key are padded to an even size.
inline uint16_t RecordDataOffset(const BlockData* node, uint16_t recordOffset)
{
    return static_cast<uint16_t>(recordOffset + PaddedKeySize(node->data[recordOffset]));
}
// End offset of the record that starts at `recordOffset` (0 when no record
// starts there). Record layouts are checked when a node is read, so this
// bounds every field read from a record.
uint16_t RecordEndAt(const BlockData* node, uint16_t recordOffset);
// The child pointer of an index record.
inline uint32_t IndexRecordChild(const BlockData* node, unsigned i)
{
    return GetU32(node->data + RecordDataOffset(node, NodeRecordOffset(node, i)));
}

// The first record of `node` (which holds at least one) whose key does not
// sort below the search key, or the last record when every key does;
// *comparison receives the search key against that record's key.
// `compare(recordKey)` is negative when the search key sorts first.
template <typename Compare>
unsigned FirstRecordNotBelow(const BlockData* node, Compare compare, int* comparison)
{
    const unsigned count = NodeRecordCount(node);
    unsigned i = 0;
    int c = compare(node->data + NodeRecordOffset(node, 0));
    while (c > 0 && i + 1 < count) c = compare(node->data + NodeRecordOffset(node, ++i));
    *comparison = c;
    return i;
}

// The record an index node leads to for a search key: the last record whose
// key is not greater, or the first when every key is greater. An exact match
// leads through its own record unless `exactTakesRecord` is false (a search
// by parent alone matches a whole folder, whose first record may lie in the
// child before).
template <typename Compare>
unsigned ChooseIndexRecord(const BlockData* node, Compare compare, bool exactTakesRecord = true)
{
    int c = 0;
    const unsigned i = FirstRecordNotBelow(node, compare, &c);
    if (i == 0 || c > 0 || (c == 0 && exactTakesRecord)) return i;
    return i - 1;
}

// Reads node `node` of the B-tree file `tree` through the cache and checks it.
// Returns null with StatusCode set (the drive's error, or 6 for a node that
// does not hold together or lies beyond the file).
BlockBuffer* ReadBTreeNode(ForkRef* tree, uint32_t node);
// Checks node 0 of a B-tree file. Sets StatusCode 6 and returns false when
// it does not describe a tree of 512-byte nodes inside the file.
bool CheckHeaderNode(BlockBuffer* header, const ForkRef* tree);
// Checks the record layout of an index or leaf node of `tree`.
bool CheckNodeLayout(const BlockData* node, const ForkRef* tree);
// Number of 512-byte nodes the B-tree file holds.
uint32_t TreeNodeCapacity(const ForkRef* tree);

uint16_t NodeFreeSpace(const BlockData* node);
// Makes room at record `index` and copies `length` bytes there; -1 (no change)
// when index is past the end. The caller checks the free space first.
int NodeInsertRecord(BlockData* node, unsigned index, const uint8_t* data, unsigned length);
void NodeDeleteRecord(BlockData* node, unsigned index);
void InitNode(BlockData* node, uint32_t forward, uint32_t backward, uint8_t type, uint8_t height);
