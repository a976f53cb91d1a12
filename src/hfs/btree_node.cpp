#include "hfs/btree_node.h"

#include <cstring>

#include "core/status.h"
#include "hfs/fork_io.h"

uint32_t TreeNodeCapacity(const ForkRef* tree)
{
    return GetU32(tree->recordBuffer->data + tree->recordOffset + kFileRecDataPhysical) / kHfsBlockSize;
}

bool CheckHeaderNode(BlockBuffer* header, const ForkRef* tree)
{
    const uint8_t* d = header->data;
    const uint32_t capacity = TreeNodeCapacity(tree);
    const uint32_t totalNodes = GetU32(d + kHeaderTotalNodes);
    const uint32_t root = GetU32(d + kHeaderRoot);
    const bool sound = NodeType(header) == kHeaderNode && GetU16(d + kHeaderNodeSize) == kHfsBlockSize &&
                       NodeRecordCount(header) >= 3 && NodeRecordOffset(header, 0) == kNodeFirstRecord &&
                       totalNodes != 0 && totalNodes <= capacity && root < totalNodes &&
                       GetU32(d + kHeaderFreeNodes) <= totalNodes && GetU16(d + kHeaderDepth) <= kMaxTreeDepth &&
                       (root == 0) == (GetU16(d + kHeaderDepth) == 0);
    if (!sound) ReportCorruption("B-tree header node");
    return sound;
}

namespace {

bool KeyFitsTree(const uint8_t* key, unsigned recordSize, bool isIndex, bool extentsTree)
{
    const unsigned keyLength = key[0];
    const unsigned paddedKey = PaddedKeySize(keyLength);
    if (keyLength + 1u > recordSize || paddedKey > recordSize) return false;
    if (isIndex && paddedKey + kIndexPointerSize > recordSize) return false;
    if (extentsTree) return keyLength == kExtentKeyLength && (isIndex || paddedKey + kExtentRecordSize <= recordSize);
    // Catalog key: reserved byte, parent ID, then a name that fits the key.
    if (keyLength < kMinCatalogKeyLength || keyLength > kCatalogIndexKeyLength) return false;
    const unsigned nameLength = key[kCatKeyName];
    return nameLength <= kMaxMacName && nameLength + kMinCatalogKeyLength <= keyLength;
}

}  // namespace

bool CheckNodeLayout(const BlockData* node, const ForkRef* tree)
{
    const uint8_t type = NodeType(node);
    const uint8_t height = NodeHeight(node);
    if (type == kIndexNode) {
        if (height < 2 || height > kMaxTreeDepth) return false;
    } else if (type == kLeafNode) {
        if (height != 1) return false;
    } else {
        return false;
    }
    const unsigned count = NodeRecordCount(node);
    if (kNodeFirstRecord + 2u * (count + 1) > kHfsBlockSize) return false;
    if (NodeRecordOffset(node, 0) != kNodeFirstRecord) return false;
    const unsigned freeOffset = NodeRecordOffset(node, count);
    if (freeOffset > kHfsBlockSize - 2u * (count + 1) || (freeOffset & 1u)) return false;
    const bool extentsTree = tree->fileId == kExtentsFileId;
    for (unsigned i = 0; i < count; ++i) {
        const unsigned start = NodeRecordOffset(node, i);
        const unsigned end = NodeRecordOffset(node, i + 1);
        // Offsets rise to the free space; one past it would put a key outside the node.
        if (end <= start || end > freeOffset || (start & 1u)) return false;
        if (!KeyFitsTree(node->data + start, end - start, type == kIndexNode, extentsTree)) return false;
    }
    return true;
}

BlockBuffer* ReadBTreeNode(ForkRef* tree, uint32_t node)
{
    if (StatusCode != 0) return nullptr;
    if (node == 0 || node >= TreeNodeCapacity(tree)) {
        ReportCorruption("node number outside the B-tree file");
        return nullptr;
    }
    BlockBuffer* buffer = nullptr;
    if (ReadForkNode(&buffer, node, kDataFork, tree) < 1 || !buffer) return nullptr;
    if (buffer->nodeCheck == NodeCheck::Unchecked)
        buffer->nodeCheck = CheckNodeLayout(buffer, tree) ? NodeCheck::Good : NodeCheck::Bad;
    if (buffer->nodeCheck != NodeCheck::Good) {
        ReportCorruption("B-tree node layout");
        return nullptr;
    }
    return buffer;
}

uint16_t RecordEndAt(const BlockData* node, uint16_t recordOffset)
{
    const unsigned count = NodeRecordCount(node);
    for (unsigned i = 0; i < count; ++i)
        if (NodeRecordOffset(node, i) == recordOffset) return NodeRecordOffset(node, i + 1);
    return 0;
}

uint16_t NodeFreeSpace(const BlockData* node)
{
    const unsigned count = NodeRecordCount(node);
    const int free = static_cast<int>(kHfsBlockSize) - 2 * static_cast<int>(count + 1) -
                     static_cast<int>(NodeRecordOffset(node, count));
    return free > 0 ? static_cast<uint16_t>(free) : 0;
}

int NodeInsertRecord(BlockData* node, unsigned index, const uint8_t* data, unsigned length)
{
    const unsigned count = NodeRecordCount(node);
    if (index > count) return -1;
    const unsigned start = NodeRecordOffset(node, index);
    const unsigned freeOffset = NodeRecordOffset(node, count);
    BlockMove(node, start + length, node->data + start, freeOffset - start);
    BlockMove(node, start, data, length);
    for (unsigned j = count + 1; j-- > index;)
        BlockPutU16(static_cast<uint16_t>(NodeRecordOffset(node, j) + length), node, NodeOffsetSlot(j + 1));
    BlockPutU16(static_cast<uint16_t>(count + 1), node, kNodeRecordCount);
    return 0;
}

void NodeDeleteRecord(BlockData* node, unsigned index)
{
    const unsigned count = NodeRecordCount(node);
    if (index >= count) return;
    const unsigned start = NodeRecordOffset(node, index);
    const unsigned next = NodeRecordOffset(node, index + 1);
    const unsigned freeOffset = NodeRecordOffset(node, count);
    const unsigned size = next - start;
    if (freeOffset != next) {
        BlockMove(node, start, node->data + next, freeOffset - next);
        for (unsigned j = index; j < count; ++j)
            BlockPutU16(static_cast<uint16_t>(NodeRecordOffset(node, j + 1) - size), node, NodeOffsetSlot(j));
    }
    BlockPutU16(static_cast<uint16_t>(count - 1), node, kNodeRecordCount);
}

void InitNode(BlockData* node, uint32_t forward, uint32_t backward, uint8_t type, uint8_t height)
{
    BlockFill(0, node, 0, kHfsBlockSize);
    BlockPutU32(forward, node, kNodeForward);
    BlockPutU32(backward, node, kNodeBackward);
    BlockPutU8(type, node, kNodeType);
    BlockPutU8(height, node, kNodeHeight);
    BlockPutU16(kNodeFirstRecord, node, NodeOffsetSlot(0));
}
