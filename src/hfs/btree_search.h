// Searching the catalog and extents B-trees, and walking leaf records in key
// order. Every descent is bounded by the tree depth and checks that each step
// lowers the node height by one; every leaf walk is bounded by the number of
// nodes in the file.
#pragma once
#include <cstdint>

#include "hfs/btree_node.h"
#include "hfs/cache.h"
#include "hfs/volume.h"

// What a lookup found: the record, no such record, or a failure on the way
// (a read error or damage, with StatusCode set). Only Failed sets a status.
enum class Lookup { Found, Missing, Failed };

// Where a catalog leaf record lies: its leaf (number and buffer), its index
// in the leaf and the offset of its key.
struct CatalogHit {
    BlockBuffer* leaf;
    uint32_t node;
    uint16_t index;
    uint16_t offset;
};

// Looks for the catalog leaf record with key (parentId, name); with a null
// name, the first record of parentId (a folder's thread record).
Lookup FindCatalogRecord(uint32_t startNode, uint32_t parentId, const uint8_t* name, CatalogHit* out);

// FindCatalogRecord in the form the rest of the engine names: 0 when found,
// with the outputs set (each may be null): the leaf's node number, the
// record's index (null name) or offset (name given), the leaf's buffer.
// 1 otherwise, with StatusCode 6 for a missing record or the failure's code.
int SearchCatalog(uint32_t startNode, uint32_t parentId, const uint8_t* name, uint32_t* outNode,
                  uint16_t* outPosition, BlockBuffer** outBuffer);

// Looks for the extents leaf record of the fork (ref, fork) that covers fork
// allocation block `block`. Returns the leaf (with the offset of the record's
// extent descriptors and the fork block at which it begins), or null.
BlockBuffer* SearchExtents(uint32_t startNode, uint16_t block, uint8_t fork, const ForkRef* ref,
                           uint16_t* outDataOffset, uint16_t* outFirstBlock);

// Finds the file record (parentId, name) and describes it as a ForkRef whose
// buffer is the leaf. A folder of that name is Missing.
Lookup FindFileRecord(uint32_t parentId, const uint8_t* name, ForkRef* out);
// FindFileRecord as 0 when found; 1 otherwise, a missing file as StatusCode 6.
int LookupFile(const uint8_t* name, uint32_t parentId, ForkRef* out);

// The catalog root node number.
uint32_t CatalogRoot();
uint32_t ExtentsRoot();

// A position in the leaf records of a B-tree, walked in key order.
struct LeafCursor {
    ForkRef* tree;
    BlockBuffer* node;
    uint32_t nodeNumber;
    uint16_t index;
    uint32_t hops;           // leaves visited, bounded by the file's node count
};

// Starts a walk at record `index` of leaf `node`. False when the node cannot
// be read or is not a leaf.
bool StartLeafWalk(LeafCursor* cursor, ForkRef* tree, uint32_t node, uint16_t index);
// Moves to the next record, following forward links past the end of a leaf
// (and skipping empty leaves). False at the end of the chain or on failure
// (StatusCode set on failure).
bool NextLeafRecord(LeafCursor* cursor);
// Offset of the current record's key in cursor->node.
inline uint16_t LeafRecordOffset(const LeafCursor* c) { return NodeRecordOffset(c->node, c->index); }
