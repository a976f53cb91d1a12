#include "hfs/btree_search.h"

#include "core/status.h"
#include "hfs/catalog_keys.h"

uint32_t CatalogRoot() { return GetU32(MacVolume.catalogHeader->data + kHeaderRoot); }
uint32_t ExtentsRoot() { return GetU32(MacVolume.extentsHeader->data + kHeaderRoot); }

namespace {

// Reads the next node of a descent and checks its height against its parent.
BlockBuffer* DescendTo(ForkRef* tree, uint32_t node, unsigned expectedHeight)
{
    BlockBuffer* buffer = ReadBTreeNode(tree, node);
    if (!buffer) return nullptr;
    if (expectedHeight != 0 && NodeHeight(buffer) != expectedHeight) {
        ReportCorruption("node height out of step with its parent");
        return nullptr;
    }
    return buffer;
}

}  // namespace

Lookup FindCatalogRecord(uint32_t startNode, uint32_t parentId, const uint8_t* name, CatalogHit* out)
{
    if (StatusCode != 0) return Lookup::Failed;
    ForkRef* tree = &MacVolume.catalogFile;
    uint32_t node = startNode;
    unsigned expectedHeight = 0;
    for (unsigned depth = 0;; ++depth) {
        if (node == 0 && depth == 0) return Lookup::Missing;  // an empty catalog
        if (node == 0 || depth > kMaxTreeDepth) {
            ReportCorruption(node != 0 ? "catalog deeper than any B-tree" : "catalog index record pointing at node 0");
            return Lookup::Failed;
        }
        BlockBuffer* buffer = DescendTo(tree, node, expectedHeight);
        if (!buffer) return Lookup::Failed;
        const unsigned count = NodeRecordCount(buffer);
        if (NodeType(buffer) != kIndexNode) break;
        if (count == 0) {
            ReportCorruption("empty catalog index node");
            return Lookup::Failed;
        }
        const auto compare = [&](const uint8_t* key) { return CompareCatalogKey(parentId, name, key); };
        node = IndexRecordChild(buffer, ChooseIndexRecord(buffer, compare, name != nullptr));
        expectedHeight = NodeHeight(buffer) - 1u;
    }

    LeafCursor cursor;
    if (!StartLeafWalk(&cursor, tree, node, 0)) return Lookup::Failed;
    if (NodeRecordCount(cursor.node) == 0 && !NextLeafRecord(&cursor))
        return StatusCode == 0 ? Lookup::Missing : Lookup::Failed;
    for (;;) {
        const uint16_t offset = LeafRecordOffset(&cursor);
        const int comparison = CompareCatalogKey(parentId, name, cursor.node->data + offset);
        if (comparison < 0) break;
        if (comparison == 0) {
            *out = CatalogHit{cursor.node, cursor.nodeNumber, cursor.index, offset};
            return Lookup::Found;
        }
        if (!NextLeafRecord(&cursor)) break;
    }
    return StatusCode == 0 ? Lookup::Missing : Lookup::Failed;
}

int SearchCatalog(uint32_t startNode, uint32_t parentId, const uint8_t* name, uint32_t* outNode,
                  uint16_t* outPosition, BlockBuffer** outBuffer)
{
    CatalogHit hit{};
    const Lookup found = FindCatalogRecord(startNode, parentId, name, &hit);
    if (found == Lookup::Missing) StatusCode = kStatusBadNode;
    if (found != Lookup::Found) return 1;
    if (outNode) *outNode = hit.node;
    if (outPosition) *outPosition = name ? hit.offset : hit.index;
    if (outBuffer) *outBuffer = hit.leaf;
    return 0;
}

BlockBuffer* SearchExtents(uint32_t startNode, uint16_t block, uint8_t fork, const ForkRef* ref,
                           uint16_t* outDataOffset, uint16_t* outFirstBlock)
{
    if (StatusCode != 0) return nullptr;
    ForkRef* tree = &MacVolume.extentsFile;
    uint32_t node = startNode;
    unsigned expectedHeight = 0;
    for (unsigned depth = 0; node != 0; ++depth) {
        if (depth > kMaxTreeDepth) {
            ReportCorruption("extents tree deeper than any B-tree");
            return nullptr;
        }
        BlockBuffer* buffer = DescendTo(tree, node, expectedHeight);
        if (!buffer) return nullptr;
        const unsigned count = NodeRecordCount(buffer);
        if (count == 0) return nullptr;
        const uint8_t type = NodeType(buffer);
        const auto compare = [&](const uint8_t* key) {
            return CompareExtentKey(ref->fileId, fork, block, key, type);
        };
        if (type == kIndexNode) {
            node = IndexRecordChild(buffer, ChooseIndexRecord(buffer, compare));
            expectedHeight = NodeHeight(buffer) - 1u;
            continue;
        }
        // In a leaf, the comparison tells whether the block lies past a record's end.
        int comparison = 0;
        const unsigned i = FirstRecordNotBelow(buffer, compare, &comparison);
        if (comparison > 0) return nullptr;
        const uint16_t offset = NodeRecordOffset(buffer, i);
        const uint8_t* key = buffer->data + offset;
        if (GetU32(key + kExtKeyFileId) != ref->fileId || key[kExtKeyForkType] != fork ||
            GetU16(key + kExtKeyStartBlock) > block)
            return nullptr;
        *outDataOffset = RecordDataOffset(buffer, offset);
        *outFirstBlock = GetU16(key + kExtKeyStartBlock);
        return buffer;
    }
    return nullptr;
}

Lookup FindFileRecord(uint32_t parentId, const uint8_t* name, ForkRef* out)
{
    CatalogHit hit{};
    const Lookup found = FindCatalogRecord(CatalogRoot(), parentId, name, &hit);
    if (found != Lookup::Found) return found;
    BlockBuffer* leaf = hit.leaf;
    const uint16_t dataOffset = RecordDataOffset(leaf, hit.offset);
    const unsigned recordEnd = RecordEndAt(leaf, hit.offset);
    if (leaf->data[dataOffset] != kFileRecord) return Lookup::Missing;
    if (dataOffset + kFileRecordSize > recordEnd) {
        ReportCorruption("file record shorter than its type");
        return Lookup::Failed;
    }
    *out = ForkRef{GetU32(leaf->data + dataOffset + kFileRecFileId), leaf, dataOffset};
    return Lookup::Found;
}

int LookupFile(const uint8_t* name, uint32_t parentId, ForkRef* out)
{
    const Lookup found = FindFileRecord(parentId, name, out);
    if (found == Lookup::Missing) StatusCode = kStatusBadNode;
    return found == Lookup::Found ? 0 : 1;
}

bool StartLeafWalk(LeafCursor* cursor, ForkRef* tree, uint32_t node, uint16_t index)
{
    *cursor = LeafCursor{tree, nullptr, node, index, 0};
    BlockBuffer* buffer = ReadBTreeNode(tree, node);
    if (!buffer) return false;
    if (NodeType(buffer) != kLeafNode) {
        ReportCorruption("leaf walk reached a non-leaf node");
        return false;
    }
    cursor->node = buffer;
    if (index > NodeRecordCount(buffer)) {
        ReportCorruption("leaf position past the last record");
        return false;
    }
    return true;
}

bool NextLeafRecord(LeafCursor* cursor)
{
    if (cursor->index < NodeRecordCount(cursor->node)) ++cursor->index;
    while (cursor->index >= NodeRecordCount(cursor->node)) {
        const uint32_t next = NodeForwardLink(cursor->node);
        if (next == 0) return false;
        if (++cursor->hops > TreeNodeCapacity(cursor->tree)) {
            ReportCorruption("leaf chain longer than the B-tree file");
            return false;
        }
        BlockBuffer* buffer = ReadBTreeNode(cursor->tree, next);
        if (!buffer) return false;
        if (NodeType(buffer) != kLeafNode) {
            ReportCorruption("forward link to a non-leaf node");
            return false;
        }
        cursor->node = buffer;
        cursor->nodeNumber = next;
        cursor->index = 0;
    }
    return true;
}
