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

int SearchCatalog(uint32_t startNode, uint32_t parentId, const uint8_t* name, uint32_t* outNode,
                  uint16_t* outPosition, BlockBuffer** outBuffer)
{
    if (StatusCode != 0) return 1;
    ForkRef* tree = &MacVolume.catalogFile;
    uint32_t node = startNode;
    unsigned expectedHeight = 0;
    for (unsigned depth = 0;; ++depth) {
        if (node == 0 || depth > kMaxTreeDepth) {
            if (node != 0) ReportCorruption("catalog deeper than any B-tree");
            else if (StatusCode == 0) StatusCode = kStatusBadNode;
            return 1;
        }
        BlockBuffer* buffer = DescendTo(tree, node, expectedHeight);
        if (!buffer) return 1;
        const unsigned count = NodeRecordCount(buffer);
        if (NodeType(buffer) != kIndexNode) break;
        if (count == 0) {
            ReportCorruption("empty catalog index node");
            return 1;
        }
        const auto compare = [&](const uint8_t* key) { return CompareCatalogKey(parentId, name, key); };
        node = IndexRecordChild(buffer, ChooseIndexRecord(buffer, compare, name != nullptr));
        expectedHeight = NodeHeight(buffer) - 1u;
    }

    LeafCursor cursor;
    if (!StartLeafWalk(&cursor, tree, node, 0)) return 1;
    if (NodeRecordCount(cursor.node) == 0 && !NextLeafRecord(&cursor)) {
        if (StatusCode == 0) StatusCode = kStatusBadNode;
        return 1;
    }
    for (;;) {
        const uint16_t offset = LeafRecordOffset(&cursor);
        const int comparison = CompareCatalogKey(parentId, name, cursor.node->data + offset);
        if (comparison < 0) break;
        if (comparison == 0) {
            if (outNode) *outNode = cursor.nodeNumber;
            if (outPosition) *outPosition = name ? offset : cursor.index;
            if (outBuffer) *outBuffer = cursor.node;
            return 0;
        }
        if (!NextLeafRecord(&cursor)) break;
    }
    if (StatusCode == 0) StatusCode = kStatusBadNode;
    return 1;
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

int LookupFile(const uint8_t* name, uint32_t parentId, ForkRef* out)
{
    BlockBuffer* leaf = nullptr;
    uint16_t offset = 0;
    if (SearchCatalog(CatalogRoot(), parentId, name, nullptr, &offset, &leaf) != 0) return 1;
    const uint16_t dataOffset = RecordDataOffset(leaf, offset);
    const unsigned recordEnd = RecordEndAt(leaf, offset);
    if (leaf->data[dataOffset] != kFileRecord || dataOffset + kFileRecordSize > recordEnd) {
        if (StatusCode == 0) StatusCode = kStatusBadNode;
        return 1;
    }
    *out = ForkRef{GetU32(leaf->data + dataOffset + kFileRecFileId), leaf, dataOffset};
    return 0;
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
