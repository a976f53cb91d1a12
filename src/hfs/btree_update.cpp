#include "hfs/btree_update.h"

#include <cstring>
#include <initializer_list>

#include "core/status.h"
#include "hfs/btree_node.h"
#include "hfs/catalog_keys.h"
#include "hfs/fork_io.h"

namespace {

// What one insertion or deletion carries between the levels of the tree: the
// tree, its header, and the node whose first key changed last.
struct TreeChange {
    ForkRef* tree;
    BlockBuffer* header;
    bool catalog;
    uint32_t changedChild;
};

int CompareKeys(const TreeChange& t, const uint8_t* a, const uint8_t* b)
{
    return t.catalog ? CompareCatalogKeys(a, b) : CompareExtentKeys(a, b);
}

BlockBuffer* Node(TreeChange& t, uint32_t node) { return ReadBTreeNode(t.tree, node); }

// A node just taken from the map, set up empty. Its old content is not
// checked: it is overwritten.
BlockBuffer* NewNode(TreeChange& t, uint32_t* number, uint8_t type, uint8_t height, uint32_t forward,
                     uint32_t backward)
{
    *number = 0;
    if (AllocateNode(number, t.tree) != 0) return nullptr;
    BlockBuffer* buffer = nullptr;
    if (ReadForkNode(&buffer, *number, kDataFork, t.tree) < 1 || !buffer) return nullptr;
    InitNode(buffer, forward, backward, type, height);
    buffer->nodeCheck = NodeCheck::Good;
    return buffer;
}

void SetHeaderU32(TreeChange& t, uint16_t offset, uint32_t value) { BlockPutU32(value, t.header, offset); }

// Builds the index record that points at `child` from its first key.
void MakeIndexRecord(TreeChange& t, const BlockData* child, uint32_t childNumber, uint8_t* record)
{
    const uint8_t* key = child->data + NodeRecordOffset(child, 0);
    const unsigned keyLength = t.catalog ? kCatalogIndexKeyLength : kExtentKeyLength;
    std::memset(record, 0, kIndexRecordRoom);
    // The buffer's first byte is the record's size: key length byte, key, child pointer.
    uint8_t* indexKey = record + 1;
    record[0] = static_cast<uint8_t>(1 + keyLength + kIndexPointerSize);
    indexKey[kCatKeyLength] = static_cast<uint8_t>(keyLength);
    const unsigned copy = key[0] < keyLength ? key[0] : keyLength;
    std::memcpy(indexKey + 1, key + 1, copy);
    PutU32(childNumber, indexKey + 1 + keyLength);
}

// Copies the child's first key over the key of index record `index` of
// `node`, zero-filling the rest of the index key. 1 when index is 0.
int UpdateIndexKey(TreeChange& t, uint32_t node, unsigned index, uint32_t child)
{
    BlockBuffer* childBuffer = Node(t, child);
    if (!childBuffer || NodeRecordCount(childBuffer) == 0) {
        if (StatusCode == 0) ReportCorruption("index key update from an empty child");
        return 0;
    }
    BlockBuffer* buffer = nullptr;
    {
        const ScopedPin pin(childBuffer);
        buffer = Node(t, node);
    }
    if (!buffer || index >= NodeRecordCount(buffer)) {
        if (StatusCode == 0) ReportCorruption("index record to update");
        return 0;
    }
    const uint16_t offset = NodeRecordOffset(buffer, index);
    const unsigned ownLength = buffer->data[offset];
    const uint8_t* childKey = childBuffer->data + NodeRecordOffset(childBuffer, 0);
    const unsigned copy = childKey[0] < ownLength ? childKey[0] : ownLength;
    BlockMove(buffer, offset + 1u, childKey + 1, copy);
    BlockFill(0, buffer, offset + 1u + copy, ownLength - copy);
    return index == 0 ? kTreeFirstKeyChanged : kTreeUnchanged;
}

// Moves record 0 of `from` to the end of `to`.
void MoveFirstRecord(BlockBuffer* from, BlockBuffer* to)
{
    uint8_t copy[kHfsBlockSize];
    const unsigned size = NodeRecordSize(from, 0);
    std::memcpy(copy, from->data + NodeRecordOffset(from, 0), size);
    NodeInsertRecord(to, NodeRecordCount(to), copy, size);
    NodeDeleteRecord(from, 0);
}

int SplitNode(TreeChange& t, uint32_t n, BlockBuffer* node, unsigned i, uint8_t* record);

// Inserts `record` at position i of node n, making room by shifting leading
// records into the left neighbour or by splitting.
int InsertIntoNode(TreeChange& t, uint32_t n, unsigned i, uint8_t* record)
{
    const unsigned length = record[0];
    if (n == 0) {
        uint32_t leaf = 0;
        BlockBuffer* buffer = NewNode(t, &leaf, kLeafNode, 1, 0, 0);
        if (!buffer) return kTreeUnchanged;
        NodeInsertRecord(buffer, 0, record + 1, length);
        SetHeaderU32(t, kHeaderRoot, leaf);
        SetHeaderU32(t, kHeaderFirstLeaf, leaf);
        SetHeaderU32(t, kHeaderLastLeaf, leaf);
        BlockPutU16(1, t.header, kHeaderDepth);
        return kTreeUnchanged;
    }
    BlockBuffer* node = Node(t, n);
    if (!node) return kTreeUnchanged;
    if (NodeFreeSpace(node) >= length + kRecordOffsetSize) {
        NodeInsertRecord(node, i, record + 1, length);
        return i == 0 ? kTreeFirstKeyChanged : kTreeUnchanged;
    }

    const uint32_t left = NodeBackwardLink(node);
    if (left != 0) {
        BlockBuffer* neighbour = nullptr;
        {
            const ScopedPin pin(node);
            neighbour = Node(t, left);
        }
        if (!neighbour) return kTreeUnchanged;
        const unsigned count = NodeRecordCount(node);
        unsigned room = NodeFreeSpace(neighbour);
        unsigned freed = NodeFreeSpace(node);
        bool success = false;
        unsigned k = 0;
        for (;; ++k) {
            if (k >= count) break;
            const unsigned needed = k < i ? NodeRecordSize(node, k) + 2u : length + 2u;
            if (room < needed) break;
            room -= needed;
            if (k < i) freed += needed;
            if ((k < i && freed >= length + kRecordOffsetSize) || k == i) {
                success = true;
                break;
            }
        }
        if (success) {
            const unsigned moved = k < i ? k + 1 : i;
            for (unsigned m = 0; m < moved; ++m) MoveFirstRecord(node, neighbour);
            if (k < i)
                NodeInsertRecord(node, i - moved, record + 1, length);
            else
                NodeInsertRecord(neighbour, NodeRecordCount(neighbour), record + 1, length);
            if (k != 0) return kTreeFirstKeyChanged;
            return i != 0 ? kTreeFirstKeyChanged : kTreeUnchanged;
        }
    }
    return SplitNode(t, n, node, i, record);
}

int SplitNode(TreeChange& t, uint32_t n, BlockBuffer* node, unsigned i, uint8_t* record)
{
    const unsigned length = record[0];
    const uint32_t left = NodeBackwardLink(node);
    const uint8_t type = NodeType(node);
    const uint8_t height = NodeHeight(node);
    uint32_t m = 0;
    BlockBuffer* fresh = nullptr;
    {
        const ScopedPin nodePin(node);
        BlockBuffer* neighbour = left ? Node(t, left) : nullptr;
        const ScopedPin neighbourPin(neighbour);
        if (left && !neighbour) return kTreeUnchanged;
        fresh = NewNode(t, &m, type, height, n, left);
        if (!fresh) return kTreeUnchanged;
        if (neighbour) BlockPutU32(m, neighbour, kNodeForward);
        BlockPutU32(m, node, kNodeBackward);

        const unsigned count = NodeRecordCount(node);
        const unsigned toNew = (count + 1) / 2;
        bool placed = false;
        for (unsigned e = 0; e < toNew; ++e) {
            if (e == i) {
                NodeInsertRecord(fresh, NodeRecordCount(fresh), record + 1, length);
                placed = true;
            } else {
                MoveFirstRecord(node, fresh);
            }
        }
        if (!placed) {
            const unsigned at = i - (toNew);
            if (NodeFreeSpace(node) < length + kRecordOffsetSize) {
                ReportCorruption("record too large for a split node");
                return kTreeUnchanged;
            }
            NodeInsertRecord(node, at, record + 1, length);
        }
        MakeIndexRecord(t, fresh, m, record);
        if (type == kLeafNode && left == 0) SetHeaderU32(t, kHeaderFirstLeaf, m);
    }

    if (height != GetU16(t.header->data + kHeaderDepth)) return kTreeNodeSplitOrRemoved;
    // The root split: a new root above the two halves.
    uint32_t root = 0;
    const ScopedPin freshPin(fresh);
    const ScopedPin nodePin(node);
    BlockBuffer* top = NewNode(t, &root, kIndexNode, static_cast<uint8_t>(height + 1), 0, 0);
    if (top) {
        uint8_t oldRootRecord[kIndexRecordRoom];
        MakeIndexRecord(t, node, n, oldRootRecord);
        NodeInsertRecord(top, 0, record + 1, record[0]);
        NodeInsertRecord(top, 1, oldRootRecord + 1, oldRootRecord[0]);
        SetHeaderU32(t, kHeaderRoot, root);
        BlockPutU16(static_cast<uint16_t>(height + 1), t.header, kHeaderDepth);
    }
    return kTreeNodeSplitOrRemoved;
}

// The index record a change to `key` goes through.
unsigned ChooseChild(TreeChange& t, const BlockData* node, const uint8_t* key)
{
    return ChooseIndexRecord(node, [&](const uint8_t* recordKey) { return CompareKeys(t, key, recordKey); });
}

int Insert(TreeChange& t, uint32_t n, uint8_t* record, unsigned expectedHeight, unsigned depth)
{
    if (n == 0) {
        const int result = InsertIntoNode(t, 0, 0, record);
        if (StatusCode == 0) SetHeaderU32(t, kHeaderLeafRecords, GetU32(t.header->data + kHeaderLeafRecords) + 1);
        return result;
    }
    if (depth > kMaxTreeDepth) {
        ReportCorruption("B-tree deeper than any tree");
        return kTreeUnchanged;
    }
    BlockBuffer* node = Node(t, n);
    if (!node) return kTreeUnchanged;
    if (expectedHeight != 0 && NodeHeight(node) != expectedHeight) {
        ReportCorruption("node height out of step with its parent");
        return kTreeUnchanged;
    }
    const unsigned count = NodeRecordCount(node);
    if (count == 0) {
        ReportCorruption("empty node inside a B-tree");
        return kTreeUnchanged;
    }
    const uint8_t* key = record + 1;
    if (NodeType(node) == kLeafNode) {
        unsigned i = 0;
        for (; i < count; ++i) {
            const int c = CompareKeys(t, node->data + NodeRecordOffset(node, i), key);
            if (c == 0) {
                StatusCode = kStatusNameExists;
                return kTreeUnchanged;
            }
            if (c > 0) break;
        }
        const int result = InsertIntoNode(t, n, i, record);
        if (StatusCode != 0) return kTreeUnchanged;
        if (result != kTreeUnchanged) t.changedChild = n;
        SetHeaderU32(t, kHeaderLeafRecords, GetU32(t.header->data + kHeaderLeafRecords) + 1);
        return result;
    }
    const unsigned i = ChooseChild(t, node, key);
    const uint32_t child = IndexRecordChild(node, i);
    const unsigned childHeight = NodeHeight(node) - 1u;
    const int below = Insert(t, child, record, childHeight, depth + 1);
    if (StatusCode != 0) return kTreeUnchanged;
    int result = kTreeUnchanged;
    if (below == kTreeFirstKeyChanged) {
        result = UpdateIndexKey(t, n, i, t.changedChild);
    } else if (below == kTreeNodeSplitOrRemoved) {
        const int updated = UpdateIndexKey(t, n, i, t.changedChild);
        if (StatusCode != 0) return kTreeUnchanged;
        const int inserted = InsertIntoNode(t, n, i, record);
        result = inserted != kTreeUnchanged ? inserted : updated;
    }
    if (result != kTreeUnchanged) t.changedChild = n;
    return result;
}

// Removes record i of node n; an emptied node is unlinked and freed.
int DeleteFromNode(TreeChange& t, uint32_t n, unsigned i)
{
    BlockBuffer* node = Node(t, n);
    if (!node) return kTreeUnchanged;
    if (NodeRecordCount(node) > 1) {
        NodeDeleteRecord(node, i);
        return i == 0 ? kTreeFirstKeyChanged : kTreeUnchanged;
    }
    const uint32_t forward = NodeForwardLink(node);
    const uint32_t backward = NodeBackwardLink(node);
    const bool leaf = NodeType(node) == kLeafNode;
    int result = kTreeNodeSplitOrRemoved;
    // A sibling left alone on its level becomes the root.
    auto becomesRoot = [&](BlockBuffer* sibling, uint32_t number) {
        BlockPutU16(NodeHeight(sibling), t.header, kHeaderDepth);
        SetHeaderU32(t, kHeaderRoot, number);
        if (NodeType(sibling) == kLeafNode) {
            SetHeaderU32(t, kHeaderFirstLeaf, number);
            SetHeaderU32(t, kHeaderLastLeaf, number);
        }
        result = kTreeLevelCollapsed;
    };
    {
        // The emptied node stays in the cache while its siblings are read.
        const ScopedPin pin(node);
        if (forward != 0) {
            BlockBuffer* f = Node(t, forward);
            if (!f) return kTreeUnchanged;
            BlockPutU32(backward, f, kNodeBackward);
            if (backward == 0 && NodeForwardLink(f) == 0) becomesRoot(f, forward);
        }
        if (backward != 0) {
            BlockBuffer* b = Node(t, backward);
            if (!b) return kTreeUnchanged;
            BlockPutU32(forward, b, kNodeForward);
            if (forward == 0 && NodeBackwardLink(b) == 0) becomesRoot(b, backward);
        }
    }
    if (leaf) {
        if (forward == 0) SetHeaderU32(t, kHeaderLastLeaf, backward);
        if (backward == 0) SetHeaderU32(t, kHeaderFirstLeaf, forward);
        if (forward == 0 && backward == 0) {
            BlockPutU16(0, t.header, kHeaderDepth);
            SetHeaderU32(t, kHeaderRoot, 0);
        }
    }
    uint32_t number = n;
    AllocateNode(&number, t.tree);
    return result;
}

int Delete(TreeChange& t, uint32_t n, const uint8_t* key, unsigned expectedHeight, unsigned depth)
{
    if (n == 0 || depth > kMaxTreeDepth) {
        ReportCorruption(n == 0 ? "deleting from an empty B-tree" : "B-tree deeper than any tree");
        return kTreeUnchanged;
    }
    BlockBuffer* node = Node(t, n);
    if (!node) return kTreeUnchanged;
    if (expectedHeight != 0 && NodeHeight(node) != expectedHeight) {
        ReportCorruption("node height out of step with its parent");
        return kTreeUnchanged;
    }
    const unsigned count = NodeRecordCount(node);
    if (count == 0) {
        ReportCorruption("empty B-tree node on the way to a record");
        return kTreeUnchanged;
    }
    if (NodeType(node) == kLeafNode) {
        for (unsigned i = 0; i < count; ++i) {
            const int c = CompareKeys(t, node->data + NodeRecordOffset(node, i), key);
            if (c > 0) break;
            if (c < 0) continue;
            const int result = DeleteFromNode(t, n, i);
            if (StatusCode != 0) return kTreeUnchanged;
            if (result == kTreeFirstKeyChanged) t.changedChild = n;
            SetHeaderU32(t, kHeaderLeafRecords, GetU32(t.header->data + kHeaderLeafRecords) - 1);
            return result;
        }
        // Every caller deletes a record it found, or one the volume must hold.
        ReportCorruption("record to delete missing from its leaf");
        return kTreeUnchanged;
    }
    const unsigned i = ChooseChild(t, node, key);
    const uint32_t child = IndexRecordChild(node, i);
    const unsigned childHeight = NodeHeight(node) - 1u;
    const int below = Delete(t, child, key, childHeight, depth + 1);
    if (StatusCode != 0) return kTreeUnchanged;
    switch (below) {
    case kTreeFirstKeyChanged: {
        const int result = UpdateIndexKey(t, n, i, t.changedChild);
        if (result != kTreeUnchanged) t.changedChild = n;
        return result;
    }
    case kTreeNodeSplitOrRemoved: {
        const int result = DeleteFromNode(t, n, i);
        if (result == kTreeFirstKeyChanged) t.changedChild = n;
        return result;
    }
    case kTreeLevelCollapsed: {
        // The level below is down to the new root: this level goes.
        node = Node(t, n);
        if (!node) return kTreeUnchanged;
        const uint32_t forward = NodeForwardLink(node);
        const uint32_t backward = NodeBackwardLink(node);
        for (uint32_t sibling : {forward, backward}) {
            uint32_t number = sibling;
            if (number != 0) AllocateNode(&number, t.tree);
        }
        uint32_t number = n;
        AllocateNode(&number, t.tree);
        return kTreeLevelCollapsed;
    }
    default:
        return kTreeUnchanged;
    }
}

TreeChange Begin(ForkRef* tree)
{
    return TreeChange{tree, TreeHeader(tree), tree->fileId == kCatalogFileId, 0};
}

}  // namespace

void BTreeInsertRecord(ForkRef* tree, uint8_t* record)
{
    if (StatusCode != 0) return;
    TreeChange t = Begin(tree);
    Insert(t, GetU32(t.header->data + kHeaderRoot), record, 0, 0);
}

void BTreeDeleteRecord(ForkRef* tree, const uint8_t* key)
{
    if (StatusCode != 0) return;
    TreeChange t = Begin(tree);
    Delete(t, GetU32(t.header->data + kHeaderRoot), key, 0, 0);
}
