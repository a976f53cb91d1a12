// Changing a B-tree: inserting a record (in place, by shifting records into
// the left neighbour, or by splitting and growing the tree upward), deleting
// one (removing emptied nodes and collapsing levels), and keeping the index
// keys above a changed node up to date. Nodes come from the tree's node map,
// and the B-tree file grows by its clump when the map has none free.
#pragma once
#include <cstdint>

#include "hfs/volume.h"

// Records handed to insertion are length-prefixed: record[0] is the length of
// the record (key and data) that follows. The buffer must have room for an
// index record (kIndexRecordRoom bytes), since a split overwrites it.
constexpr unsigned kIndexRecordRoom = 1 + kMaxCatalogKeySize + kIndexPointerSize;
constexpr unsigned kMaxRecordBuffer = 256;

// Results of BTreeInsert and BTreeDelete.
enum : int {
    kTreeUnchanged = 0,
    kTreeFirstKeyChanged = 1,
    kTreeNodeSplitOrRemoved = 2,
    kTreeLevelCollapsed = 3,
};

// Inserts into the tree `tree` (MacVolume.catalogFile or .extentsFile).
// StatusCode 8 when a record with an equal key exists, 6 on a damaged tree,
// 1 when the B-tree file cannot grow.
void BTreeInsertRecord(ForkRef* tree, uint8_t* record);
// Deletes the leaf record whose key equals `key` (starting at its length
// byte). StatusCode 6 when it is not present.
void BTreeDeleteRecord(ForkRef* tree, const uint8_t* key);

// Node allocation through the node map. With *node 0, takes the first free
// node (growing the file when none is free) and stores its number; with a
// node number, clears that node and frees it (-2 when the map does not
// cover it). Returns 0 on success, -1 with StatusCode set on failure.
int AllocateNode(uint32_t* node, ForkRef* tree);
// Adds the tree's clump of allocation blocks to its file, with a new map
// node when the map no longer covers every node.
void GrowBTreeFile(ForkRef* tree);

// The header node of a tree.
BlockBuffer* TreeHeader(const ForkRef* tree);
