// Allocating and freeing B-tree nodes through the node map (the header
// node's map record and the map nodes chained from it), and growing a B-tree
// file when the map has no free node.
#include <cstring>

#include "core/status.h"
#include "hfs/btree_node.h"
#include "hfs/btree_update.h"
#include "hfs/extents.h"
#include "hfs/fork_io.h"

namespace {

// One stretch of the node map: `bytes` bytes at `offset` of `buffer`, whose
// first bit is node `firstNode`.
struct MapRecord {
    BlockBuffer* buffer;
    uint16_t offset;
    uint16_t bytes;
    uint32_t firstNode;
    uint32_t nodeNumber;  // 0 for the header's own map record
};

// Walks the map records in order; `visit` returns false to stop. Returns
// false when the chain cannot be read or does not hold together.
template <typename Visit>
bool WalkNodeMap(ForkRef* tree, Visit visit)
{
    BlockBuffer* header = TreeHeader(tree);
    if (!header || NodeRecordCount(header) <= kHeaderMapRecordIndex) {
        ReportCorruption("header node without a node map");
        return false;
    }
    const uint16_t start = NodeRecordOffset(header, kHeaderMapRecordIndex);
    const uint16_t end = NodeRecordOffset(header, kHeaderMapRecordIndex + 1);
    if (end <= start || end > NodeOffsetSlot(kHeaderMapRecordIndex + 1)) {
        ReportCorruption("header node map record");
        return false;
    }
    MapRecord record{header, start, static_cast<uint16_t>(end - start), 0, 0};
    const uint32_t capacity = TreeNodeCapacity(tree);
    for (uint32_t hops = 0;; ++hops) {
        if (!visit(record)) return true;
        const uint32_t next = NodeForwardLink(record.buffer);
        if (next == 0) return true;
        if (hops > capacity || next >= capacity) {
            ReportCorruption("map node chain");
            return false;
        }
        BlockBuffer* buffer = nullptr;
        if (ReadForkNode(&buffer, next, kDataFork, tree) < 1 || !buffer) return false;
        if (NodeType(buffer) != kMapNode || NodeRecordOffset(buffer, 0) != kNodeFirstRecord ||
            NodeRecordOffset(buffer, 1) != kMapNodeRecordEnd) {
            ReportCorruption("map node layout");
            return false;
        }
        record = MapRecord{buffer, kNodeFirstRecord, kMapNodeRecordEnd - kNodeFirstRecord,
                           record.firstNode + record.bytes * 8u, next};
    }
}

void AdjustFreeNodes(BlockBuffer* header, int delta)
{
    BlockPutU32(GetU32(header->data + kHeaderFreeNodes) + static_cast<uint32_t>(delta), header, kHeaderFreeNodes);
}

// Takes the first clear bit of the map; 0 when there is none.
uint32_t TakeFreeNode(ForkRef* tree, BlockBuffer* header)
{
    const uint32_t total = GetU32(header->data + kHeaderTotalNodes);
    uint32_t found = 0;
    WalkNodeMap(tree, [&](const MapRecord& r) {
        for (uint16_t i = 0; i < r.bytes; ++i) {
            const uint32_t first = r.firstNode + i * 8u;
            if (first >= total) return false;
            const uint8_t byte = r.buffer->data[r.offset + i];
            if (byte == 0xFF) continue;
            for (unsigned bit = 0; bit < 8 && first + bit < total; ++bit) {
                if (byte & (0x80 >> bit)) continue;
                BlockPutU8(static_cast<uint8_t>(byte | (0x80 >> bit)), r.buffer, r.offset + i);
                found = first + bit;
                return false;
            }
        }
        return true;
    });
    return found;
}

}  // namespace

BlockBuffer* TreeHeader(const ForkRef* tree)
{
    return tree->fileId == kExtentsFileId ? MacVolume.extentsHeader : MacVolume.catalogHeader;
}

int AllocateNode(uint32_t* node, ForkRef* tree)
{
    if (StatusCode != 0) return -1;
    BlockBuffer* header = TreeHeader(tree);
    if (*node != 0) {
        BlockBuffer* buffer = nullptr;
        if (*node >= TreeNodeCapacity(tree) || ReadForkNode(&buffer, *node, kDataFork, tree) < 1 || !buffer) {
            if (StatusCode == 0) ReportCorruption("freeing a node outside the file");
            return -1;
        }
        BlockFill(0, buffer, 0, kHfsBlockSize);
        buffer->nodeCheck = NodeCheck::Unchecked;
        bool cleared = false;
        WalkNodeMap(tree, [&](const MapRecord& r) {
            if (*node >= r.firstNode + r.bytes * 8u) return true;
            const uint16_t offset = static_cast<uint16_t>(r.offset + (*node - r.firstNode) / 8);
            const uint8_t bit = static_cast<uint8_t>(0x80 >> ((*node - r.firstNode) % 8));
            BlockPutU8(static_cast<uint8_t>(r.buffer->data[offset] & ~bit), r.buffer, offset);
            cleared = true;
            return false;
        });
        if (StatusCode != 0) return -1;
        if (!cleared) return -2;
        AdjustFreeNodes(header, +1);
        return 0;
    }
    // At most two rounds: the map, then the map after the file grew.
    for (int round = 0; round < 2; ++round) {
        const uint32_t found = TakeFreeNode(tree, header);
        if (StatusCode != 0) return -1;
        if (found != 0) {
            AdjustFreeNodes(header, -1);
            *node = found;
            return 0;
        }
        if (round == 0) GrowBTreeFile(tree);
        if (StatusCode != 0) return -1;
    }
    StatusCode = kStatusDiskFull;
    return -1;
}

void GrowBTreeFile(ForkRef* tree)
{
    if (StatusCode != 0) return;
    const bool extents = tree->fileId == kExtentsFileId;
    if (extents && GetU16(ExtentsFileRecord.data + kFileRecDataExtents + ExtentCountAt(kExtentsPerRecord - 1)) != 0) {
        // The extents file keeps all its extents in the MDB: three at most.
        StatusCode = kStatusDiskFull;
        return;
    }
    const uint32_t clump = GetU32(MacVolume.mdb->data + (extents ? kMdbExtentsClump : kMdbCatalogClump));
    const uint32_t blockBytes = uint32_t{MacVolume.allocBlockSize} * kHfsBlockSize;
    uint32_t wanted = clump / blockBytes;
    if (wanted == 0) wanted = 1;
    if (wanted > 0xFFFF) wanted = 0xFFFF;
    uint16_t granted = static_cast<uint16_t>(wanted);
    ExtendFork(tree, kDataFork, &granted);
    if (StatusCode != 0) return;
    // The file's logical length follows its physical length.
    BlockMove(tree->recordBuffer, tree->recordOffset + kFileRecDataLogical,
              tree->recordBuffer->data + tree->recordOffset + kFileRecDataPhysical, sizeof(uint32_t));

    BlockBuffer* header = TreeHeader(tree);
    const uint32_t added = uint32_t{granted} * MacVolume.allocBlockSize;
    const uint32_t total = GetU32(header->data + kHeaderTotalNodes) + added;
    BlockPutU32(total, header, kHeaderTotalNodes);
    AdjustFreeNodes(header, static_cast<int>(added));

    uint32_t mapped = 0;
    MapRecord last{};
    if (!WalkNodeMap(tree, [&](const MapRecord& r) {
            mapped = r.firstNode + r.bytes * 8u;
            last = r;
            return true;
        }))
        return;
    // More map nodes while the map does not cover every node (a clump can
    // add more nodes than one map node covers): each is the first node the
    // map before it does not cover, and marks itself as used.
    while (total > mapped) {
        const uint32_t mapNode = mapped;
        BlockBuffer* buffer = nullptr;
        uint16_t read = 0;
        {
            const ScopedPin pin(last.buffer);
            read = ReadForkNode(&buffer, mapNode, kDataFork, tree);
        }
        if (read < 1 || !buffer) return;
        InitNode(buffer, 0, 0, kMapNode, 0);
        BlockPutU16(1, buffer, kNodeRecordCount);
        BlockPutU16(kMapNodeRecordEnd, buffer, NodeOffsetSlot(1));
        BlockPutU8(0x80, buffer, kNodeFirstRecord);
        buffer->nodeCheck = NodeCheck::Unchecked;
        BlockPutU32(mapNode, last.buffer, kNodeForward);
        AdjustFreeNodes(header, -1);
        last = MapRecord{buffer, kNodeFirstRecord, kMapNodeRecordEnd - kNodeFirstRecord, mapNode, mapNode};
        mapped = mapNode + last.bytes * 8u;
    }
}
