// The write side's building blocks on the formatter's empty diskette: B-tree
// insertion and deletion through splits, shifts and the collapse of levels,
// the bitmap's runs and its deferred frees, and block writes past their
// buffer. Fork growth and whole command sequences, with the checker and
// hfsutils as oracles, are in tests/integration/write_sequences_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/prefs.h"
#include "core/status.h"
#include "hfs/bitmap.h"
#include "hfs/btree_node.h"
#include "hfs/btree_search.h"
#include "hfs/btree_update.h"
#include "hfs/catalog_keys.h"
#include "hfs/cache.h"
#include "hfs/format.h"
#include "hfs/volume.h"
#include "support/engine_state.h"
#include "ui/mac_session.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSynthFileId = 100;     // file ID of the extents-tree records the B-tree tests insert
constexpr unsigned kRecordData = 80;       // 88-byte records: five fill a leaf, six do not

// The formatter's empty 1.44 MB volume, made once.
const Bytes& EmptyVolume()
{
    static const Bytes bytes = [] {
        ResetEngineState();
        TempImage image(Bytes(kDisketteBytes, 0));
        SetVolumeLabel("Unit");
        WriteEmptyVolume(image.drive);
        Bytes out = image.Bytes();
        ResetEngineState();
        return out;
    }();
    return bytes;
}

class BTreeUpdate : public EngineStateTest {
protected:
    void MountEmpty()
    {
        ASSERT_EQ(EmptyVolume().size(), kDisketteBytes);
        const std::string path = dir.WriteFile("volume.img", EmptyVolume());
        ASSERT_TRUE(OpenImageAsMacDrive(path.c_str(), true)) << StatusCode;
        ASSERT_TRUE(OpenListedVolume(0)) << StatusCode;
        CurrentOptions.hideInvisible = false;
    }
    static ForkRef* Extents() { return &MacVolume.extentsFile; }
    static uint32_t HeaderU32(ForkRef* tree, uint16_t offset) { return GetU32(TreeHeader(tree)->data + offset); }
    static uint16_t Depth(ForkRef* tree) { return GetU16(TreeHeader(tree)->data + kHeaderDepth); }
    static uint32_t Root(ForkRef* tree) { return HeaderU32(tree, kHeaderRoot); }
    static uint32_t FreeNodes(ForkRef* tree) { return HeaderU32(tree, kHeaderFreeNodes); }
    static bool NodeInUse(ForkRef* tree, uint32_t n)
    {
        const BlockBuffer* h = TreeHeader(tree);
        return n < 2048 && (h->data[kHeaderMapRecord + n / 8] & (0x80 >> (n % 8))) != 0;
    }
    static BlockBuffer* Node(ForkRef* tree, uint32_t n)
    {
        BlockBuffer* b = ReadBTreeNode(tree, n);
        EXPECT_NE(b, nullptr) << "node " << n << " status " << StatusCode;
        return b;
    }
    // An extents-tree record of 88 bytes keyed by `start`; its data is a pattern.
    static Bytes BigRecord(uint16_t start)
    {
        Bytes r(1 + 8 + kRecordData, 0);
        r[0] = static_cast<uint8_t>(8 + kRecordData);
        r[1] = 7;
        r[2] = kDataFork;
        PutU32(kSynthFileId, &r[3]);
        PutU16(start, &r[7]);
        for (unsigned i = 0; i < kRecordData; ++i) r[9 + i] = static_cast<uint8_t>(start + i);
        r.resize(kMaxRecordBuffer, 0);
        return r;
    }
    static void Insert(uint16_t start)
    {
        Bytes r = BigRecord(start);
        BTreeInsertRecord(Extents(), r.data());
        EXPECT_EQ(StatusCode, 0u) << "inserting " << start;
    }
    static void Delete(uint16_t start)
    {
        uint8_t key[8] = {7, kDataFork};
        PutU32(kSynthFileId, key + 2);
        PutU16(start, key + 6);
        BTreeDeleteRecord(Extents(), key);
        EXPECT_EQ(StatusCode, 0u) << "deleting " << start;
    }
    // The start blocks (keys) of a node's records, in order.
    static std::vector<uint16_t> Keys(const BlockData* node)
    {
        std::vector<uint16_t> keys;
        for (unsigned i = 0; i < NodeRecordCount(node); ++i)
            keys.push_back(GetU16(node->data + NodeRecordOffset(node, i) + kExtKeyStartBlock));
        return keys;
    }
    static uint16_t IndexKey(const BlockData* node, unsigned i)
    {
        return GetU16(node->data + NodeRecordOffset(node, i) + kExtKeyStartBlock);
    }
    // Walks the extents tree from its root, level by level, and checks what
    // the header and the nodes must agree on: node types and heights, each
    // index record keyed by its child's first key, each level linked both
    // ways, the leaves' keys in order and their records whole, the first and
    // last leaf, the record count, and the node map marking exactly the nodes
    // reached.
    static void ExpectSoundTree()
    {
        ForkRef* tree = Extents();
        const uint16_t depth = Depth(tree);
        std::vector<uint32_t> level;
        if (depth > 0) level.push_back(Root(tree));
        std::vector<uint32_t> reached;
        std::vector<uint16_t> keys;
        for (uint16_t height = depth; height > 0 && !level.empty(); --height) {
            std::vector<uint32_t> below;
            for (size_t i = 0; i < level.size(); ++i) {
                const BlockBuffer* node = Node(tree, level[i]);
                ASSERT_NE(node, nullptr);
                reached.push_back(level[i]);
                EXPECT_EQ(NodeType(node), height == 1 ? kLeafNode : kIndexNode) << "node " << level[i];
                EXPECT_EQ(NodeHeight(node), height) << "node " << level[i];
                EXPECT_EQ(NodeBackwardLink(node), i == 0 ? 0u : level[i - 1]) << "node " << level[i];
                EXPECT_EQ(NodeForwardLink(node), i + 1 == level.size() ? 0u : level[i + 1]) << "node " << level[i];
                for (unsigned r = 0; height > 1 && r < NodeRecordCount(node); ++r) {
                    below.push_back(IndexRecordChild(node, r));
                    const std::vector<uint16_t> childKeys = Keys(Node(tree, below.back()));
                    EXPECT_TRUE(!childKeys.empty() && IndexKey(node, r) == childKeys.front()) << "node " << level[i];
                }
                for (unsigned r = 0; height == 1 && r < NodeRecordCount(node); ++r) {
                    const uint8_t* record = node->data + NodeRecordOffset(node, r);
                    const uint16_t key = GetU16(record + kExtKeyStartBlock);
                    const unsigned size = NodeRecordSize(node, r);
                    bool whole = size == 8 + kRecordData;
                    for (unsigned b = 8; b < size; ++b) whole = whole && record[b] == static_cast<uint8_t>(key + b - 8);
                    EXPECT_TRUE(whole) << "record " << key << " of node " << level[i];
                    keys.push_back(key);
                }
            }
            if (height == 1) {
                EXPECT_EQ(HeaderU32(tree, kHeaderFirstLeaf), level.front());
                EXPECT_EQ(HeaderU32(tree, kHeaderLastLeaf), level.back());
            }
            level = below;
        }
        EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()) &&
                    std::adjacent_find(keys.begin(), keys.end()) == keys.end());
        EXPECT_EQ(HeaderU32(tree, kHeaderLeafRecords), keys.size());
        EXPECT_TRUE(depth > 0 || Root(tree) + HeaderU32(tree, kHeaderFirstLeaf) + HeaderU32(tree, kHeaderLastLeaf) == 0);
        const uint32_t total = HeaderU32(tree, kHeaderTotalNodes);
        EXPECT_EQ(FreeNodes(tree), total - 1 - reached.size());
        for (uint32_t n = 1; n < total; ++n)
            EXPECT_EQ(NodeInUse(tree, n), std::count(reached.begin(), reached.end(), n) == 1) << "node " << n;
    }
    static uint16_t FreeBlocks() { return GetU16(MacVolume.mdb->data + kMdbFreeBlocks); }
    TempDir dir;
};

TEST_F(BTreeUpdate, RandomInsertsAndDeletesKeepTheTreeSound)
{
    MountEmpty();
    std::vector<uint16_t> keys;
    for (uint16_t k = 1; k <= 160; ++k) keys.push_back(static_cast<uint16_t>(k * 7 % 997));
    uint32_t seed = 5;
    for (size_t i = keys.size(); i > 1; --i) {
        seed = seed * 1103515245u + 12345u;
        std::swap(keys[i - 1], keys[(seed >> 8) % i]);
    }
    for (size_t i = 0; i < keys.size(); ++i) {
        Insert(keys[i]);
        if (i % 10 == 9) ExpectSoundTree();
    }
    ASSERT_EQ(StatusCode, 0u);
    EXPECT_GE(Depth(Extents()), 3u);
    Bytes again = BigRecord(keys[7]);
    BTreeInsertRecord(Extents(), again.data());  // a key already there
    EXPECT_EQ(StatusCode, kStatusNameExists);
    StatusCode = 0;
    EXPECT_EQ(HeaderU32(Extents(), kHeaderLeafRecords), keys.size());
    std::vector<uint16_t> gone;  // every other key, then the rest
    for (size_t start : {0, 1})
        for (size_t i = start; i < keys.size(); i += 2) gone.push_back(keys[i]);
    for (size_t i = 0; i < gone.size(); ++i) {
        Delete(gone[i]);
        if (i % 10 == 9) ExpectSoundTree();
    }
    EXPECT_EQ(Depth(Extents()), 0u);
    EXPECT_EQ(FreeNodes(Extents()), HeaderU32(Extents(), kHeaderTotalNodes) - 1);
    uint8_t key[8] = {7, kDataFork};  // a missing key is code 6, on an empty tree too
    PutU32(kSynthFileId, key + 2);
    BTreeDeleteRecord(Extents(), key);
    EXPECT_EQ(StatusCode, kStatusBadNode);
}

TEST_F(BTreeUpdate, FindFreeRunAnswersAsAWholeScanThroughMarkingFlushAndDiscard)
{
    MountEmpty();
    const uint16_t total = VolumeAllocBlockCount();
    std::vector<bool> used(total);
    for (uint16_t b = 0; b < total; ++b) used[b] = AllocationBlockUsed(b);
    std::vector<bool> flushed = used;
    std::vector<bool> freed(total);
    struct Answer {
        int result;
        uint16_t start;
        uint16_t count;
        bool operator==(const Answer&) const = default;
    };
    auto expected = [&](uint16_t count) {
        Answer best{-1, 0, 0};
        for (uint32_t b = 0; b < total;) {
            if (used[b]) {
                ++b;
                continue;
            }
            uint32_t end = b;
            while (end < total && !used[end]) ++end;
            const uint32_t length = end - b;
            if (length >= count) return Answer{0, static_cast<uint16_t>(b), count};
            if (length > best.count) best = Answer{1, static_cast<uint16_t>(b), static_cast<uint16_t>(length)};
            b = end;
        }
        return best;
    };
    auto expectedFrom = [&](uint16_t start, uint16_t count) {
        if (used[start]) return Answer{-1, start, count};
        uint16_t length = 0;
        while (start + length < total && length < count && !used[start + length]) ++length;
        return Answer{length == count ? 0 : 1, start, length};
    };
    std::mt19937 random(1234);
    for (int step = 0; step < 3000; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const unsigned what = random() % 20;
        if (what < 9) {  // allocate the first fit, or a run from a given block
            const uint16_t want = static_cast<uint16_t>(1 + random() % 60);
            const uint16_t from = random() % 4 == 0 ? static_cast<uint16_t>(1 + random() % (total - 1)) : 0;
            Answer got{0, from, want};
            got.result = FindFreeRun(&got.start, &got.count);
            const Answer should = from ? expectedFrom(from, want) : expected(want);
            ASSERT_EQ(got.result, should.result);
            if (got.result < 0) continue;
            ASSERT_EQ(got.start, should.start);
            ASSERT_EQ(got.count, should.count);
            MarkAllocated(got.start, got.count);
            for (uint16_t k = 0; k < got.count; ++k) used[got.start + k] = true;
        } else if (what < 17) {  // free part of a used run
            uint16_t start = static_cast<uint16_t>(random() % total);
            uint16_t length = 0;
            const unsigned most = 1 + random() % 40;
            while (start + length < total && length < most && used[start + length]) ++length;
            MarkFree(start, length);
            for (uint16_t k = 0; k < length; ++k) freed[start + k] = true;
        } else if (what < 19) {
            FlushVolume();
            for (uint16_t b = 0; b < total; ++b) used[b] = used[b] && !freed[b];
            freed.assign(total, false);
            flushed = used;
        } else {
            DiscardVolumeChanges();
            freed.assign(total, false);
            used = flushed;
        }
        ASSERT_EQ(StatusCode, 0u);
    }
    EXPECT_EQ(FreeBlocks(), std::count(used.begin(), used.end(), false));
}

TEST(ExtentKeys, LeafComparisonCoversTheRecordsRange)
{
    // File 30, data fork, from fork block 10, extents of 2 and 3 blocks: blocks 10 to 14.
    const uint8_t record[20] = {7, kDataFork, 0, 0, 0, 30, 0, 10, 0, 100, 0, 2, 0, 200, 0, 3};
    EXPECT_EQ(CompareExtentKey(30, kDataFork, 14, record, kLeafNode), -1);
    EXPECT_EQ(CompareExtentKey(30, kDataFork, 15, record, kLeafNode), 1);
    EXPECT_EQ(CompareExtentKey(30, kResourceFork, 12, record, kLeafNode), 1);
    EXPECT_EQ(CompareExtentKey(29, kDataFork, 12, record, kLeafNode), -1);
    EXPECT_EQ(CompareExtentKey(30, kDataFork, 12, record, kIndexNode), 2);
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

}  // namespace
