// Record primitives inside one B-tree node, and the layout check that every
// node read from a medium must pass before it is used.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <vector>

#include "core/status.h"
#include "hfs/btree_node.h"
#include "hfs/catalog_keys.h"

namespace {

// A catalog-tree ForkRef is all CheckNodeLayout needs to know the tree.
ForkRef CatalogTree() { return ForkRef{kCatalogFileId, nullptr, 0}; }
ForkRef ExtentsTree() { return ForkRef{kExtentsFileId, nullptr, 0}; }

std::vector<uint8_t> LeafRecord(uint32_t parent, const char* name, unsigned dataSize)
{
    uint8_t key[40];
    uint8_t macName[32] = {static_cast<uint8_t>(std::strlen(name))};
    std::memcpy(macName + 1, name, macName[0]);
    const unsigned keySize = BuildCatalogKey(parent, macName, key);
    std::vector<uint8_t> record(key, key + keySize);
    record.resize(keySize + dataSize, 0xAB);
    return record;
}

BlockData EmptyLeaf()
{
    BlockData node{};
    InitNode(&node, 0, 0, kLeafNode, 1);
    return node;
}

TEST(NodeRecords, InsertAndDeleteKeepOffsetsInStep)
{
    BlockData node = EmptyLeaf();
    EXPECT_EQ(NodeFreeSpace(&node), 512 - 14 - 2);
    const auto a = LeafRecord(2, "a", 70);
    const auto c = LeafRecord(2, "c", 102);
    const auto b = LeafRecord(2, "b", 46);
    ASSERT_EQ(NodeInsertRecord(&node, 0, a.data(), static_cast<unsigned>(a.size())), 0);
    ASSERT_EQ(NodeInsertRecord(&node, 1, c.data(), static_cast<unsigned>(c.size())), 0);  // append: nothing shifts
    ASSERT_EQ(NodeInsertRecord(&node, 1, b.data(), static_cast<unsigned>(b.size())), 0);
    EXPECT_EQ(NodeInsertRecord(&node, 4, a.data(), 2), -1);                               // past the end: no change
    ASSERT_EQ(NodeRecordCount(&node), 3);
    const ForkRef catalog = CatalogTree();
    EXPECT_TRUE(CheckNodeLayout(&node, &catalog));
    EXPECT_EQ(0, std::memcmp(node.data + NodeRecordOffset(&node, 1), b.data(), b.size()));
    EXPECT_EQ(0, std::memcmp(node.data + NodeRecordOffset(&node, 2), c.data(), c.size()));
    EXPECT_EQ(NodeFreeSpace(&node), 512 - 14 - 2 * 4 - a.size() - b.size() - c.size());

    NodeDeleteRecord(&node, 1);
    ASSERT_EQ(NodeRecordCount(&node), 2);
    EXPECT_EQ(0, std::memcmp(node.data + NodeRecordOffset(&node, 1), c.data(), c.size()));
    NodeDeleteRecord(&node, 1);
    NodeDeleteRecord(&node, 0);
    EXPECT_EQ(NodeRecordCount(&node), 0);
    EXPECT_EQ(NodeRecordOffset(&node, 0), 14);  // the free space starts where the records did
    EXPECT_TRUE(node.flags & kBlockDirty);
}

// A write that would run past its block comes from an offset the medium
// gave: it changes nothing and is reported as damage, never dropped unseen.
TEST(NodeRecords, WritesPastTheBlockAreReportedAsDamage)
{
    static const uint8_t kBytes[4] = {1, 2, 3, 4};
    const std::function<void(BlockData*)> writes[] = {
        [](BlockData* b) { BlockPutU8(1, b, 512); },
        [](BlockData* b) { BlockPutU16(1, b, 511); },
        [](BlockData* b) { BlockPutU32(1, b, 509); },
        [](BlockData* b) { BlockFill(1, b, 500, 13); },
        [](BlockData* b) { BlockMove(b, 510, kBytes, 3); },
    };
    for (size_t i = 0; i < std::size(writes); ++i) {
        BlockData block{};
        StatusCode = 0;
        writes[i](&block);
        EXPECT_EQ(StatusCode, kStatusBadNode) << "write " << i;
        EXPECT_FALSE(block.flags & kBlockDirty) << "write " << i;
    }
    StatusCode = 0;
}

TEST(NodeLayoutCheck, RefusesNodesThatDoNotHoldTogether)
{
    const ForkRef catalog = CatalogTree();
    BlockData node = EmptyLeaf();
    const auto a = LeafRecord(2, "alpha", 70);
    const auto b = LeafRecord(2, "beta", 102);
    NodeInsertRecord(&node, 0, a.data(), static_cast<unsigned>(a.size()));
    NodeInsertRecord(&node, 1, b.data(), static_cast<unsigned>(b.size()));
    ASSERT_TRUE(CheckNodeLayout(&node, &catalog));

    auto damaged = [&](auto change) {
        BlockData copy = node;
        change(copy);
        return !CheckNodeLayout(&copy, &catalog);
    };
    EXPECT_TRUE(damaged([](BlockData& n) { PutU16(16, n.data + 510); }));            // first record not at 14
    EXPECT_TRUE(damaged([](BlockData& n) { PutU16(13, n.data + 508); }));            // record offsets not rising
    EXPECT_TRUE(damaged([](BlockData& n) { PutU16(101, n.data + 508); }));           // odd offset
    EXPECT_TRUE(damaged([](BlockData& n) { PutU16(600, n.data + 506); }));           // free space past the table
    EXPECT_TRUE(damaged([](BlockData& n) { PutU16(250, n.data + kNodeRecordCount); }));  // table larger than the node
    EXPECT_TRUE(damaged([](BlockData& n) { n.data[14] = 60; }));                      // key longer than a catalog key
    EXPECT_TRUE(damaged([](BlockData& n) { n.data[14 + 6] = 30; }));                  // name longer than its key
    EXPECT_TRUE(damaged([](BlockData& n) { n.data[kNodeHeight] = 2; }));              // a leaf above height 1
    EXPECT_TRUE(damaged([](BlockData& n) { n.data[kNodeType] = kHeaderNode; }));      // not a leaf or index node

    // An index record must hold its child pointer after the padded key.
    BlockData index{};
    InitNode(&index, 0, 0, kIndexNode, 2);
    auto full = LeafRecord(2, "x", 30);
    full[0] = 37;  // a 38-byte record: the key fills it
    NodeInsertRecord(&index, 0, full.data(), static_cast<unsigned>(full.size()));
    EXPECT_FALSE(CheckNodeLayout(&index, &catalog));
    full.resize(42);
    BlockData withChild{};
    InitNode(&withChild, 0, 0, kIndexNode, 2);
    NodeInsertRecord(&withChild, 0, full.data(), static_cast<unsigned>(full.size()));
    EXPECT_TRUE(CheckNodeLayout(&withChild, &catalog));
    const ForkRef extents = ExtentsTree();
    EXPECT_FALSE(CheckNodeLayout(&node, &extents));  // catalog keys are not extents keys
}

}  // namespace
