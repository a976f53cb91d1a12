// The two B-trees as structures: the header node, each node's layout, type
// and height, key order within and across nodes, index keys against their
// children's first keys, sibling links at every level, the leaf count and
// first and last leaves, and the node map against the nodes in use. The
// leaf records are copied out for the catalog and allocation checks.
//
// The walk goes level by level from the root; a node is taken into the tree
// once (a visited set), so a damaged tree can neither loop nor explode.
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "core/status.h"
#include "hfs/btree_node.h"
#include "hfs/check_context.h"
#include "hfs/extents.h"
#include "hfs/fork_io.h"

namespace {

using NodeImage = std::array<uint8_t, kHfsBlockSize>;
using KeyCopy = std::array<uint8_t, 1 + kCatalogIndexKeyLength>;

struct TreeWalk {
    CheckContext* ctx;
    ForkRef* file;
    const char* name;        // "catalog B-tree"
    bool catalog;
    void (*onLeafRecord)(CheckContext*, uint32_t node, unsigned index, const uint8_t* image);
    uint32_t capacity = 0;   // nodes the file holds
    std::vector<bool> used;  // header, map nodes and tree nodes
    bool complete = true;    // every node of the tree was read and usable
};

struct HeaderFields {
    uint16_t depth;
    uint32_t root;
    uint32_t leafRecords;
    uint32_t firstLeaf;
    uint32_t lastLeaf;
    uint32_t totalNodes;
    uint32_t freeNodes;
};

// A node to visit, with the index record that leads to it. Node 0 marks a
// gap: nodes below an index node or record that could not be used, whose
// neighbours' links cannot be judged.
struct Pending {
    uint32_t node;
    uint32_t parent;         // 0 for the root
    uint16_t record;
    KeyCopy key;
};

struct LevelNode {
    uint32_t node;           // 0 for a gap
    bool readable;
    uint32_t forward;
    uint32_t backward;
};

const Pending kGap{0, 0, 0, {}};

uint16_t OffsetAt(const uint8_t* node, unsigned i) { return GetU16(node + NodeOffsetSlot(i)); }

// "node 5 is" or "nodes 5-9 are".
std::string NodeRangeText(uint32_t first, uint32_t last)
{
    if (first == last) return "node " + std::to_string(first) + " is";
    return "nodes " + std::to_string(first) + "-" + std::to_string(last) + " are";
}

std::string KeyText(const TreeWalk& w, const uint8_t* key)
{
    if (w.catalog) return "(parent " + std::to_string(GetU32(key + kCatKeyParentId)) + ", " +
                          QuotedMacName(key + kCatKeyName) + ")";
    const uint8_t fork = key[kExtKeyForkType];
    const std::string forkText = fork == kDataFork       ? "data fork"
                                 : fork == kResourceFork ? "resource fork"
                                                         : "fork type " + std::to_string(fork);
    return "(file " + std::to_string(GetU32(key + kExtKeyFileId)) + ", " + forkText + ", block " +
           std::to_string(GetU16(key + kExtKeyStartBlock)) + ")";
}

KeyCopy CopyKey(const uint8_t* key)
{
    KeyCopy copy{};
    const unsigned length = key[0] < kCatalogIndexKeyLength ? key[0] : kCatalogIndexKeyLength;
    std::memcpy(copy.data(), key, 1u + length);
    return copy;
}

int CompareKeys(const TreeWalk& w, const uint8_t* a, const uint8_t* b)
{
    return w.catalog ? CompareCatalogKeys(a, b) : CompareExtentKeys(a, b);
}

// An index key must be its child's first key: the same parent and name (the
// index name being zero-padded), or the same extents key.
bool SameKey(const TreeWalk& w, const uint8_t* indexKey, const uint8_t* childKey)
{
    if (!w.catalog) return std::memcmp(indexKey, childKey, 1 + kExtentKeyLength) == 0;
    if (GetU32(indexKey + kCatKeyParentId) != GetU32(childKey + kCatKeyParentId)) return false;
    const unsigned length = indexKey[kCatKeyName];
    return length == childKey[kCatKeyName] &&
           std::memcmp(indexKey + kCatKeyName + 1, childKey + kCatKeyName + 1, length) == 0;
}

// Why record `i` (from `start` to `end`) cannot be a record of this tree, or
// an empty text.
std::string RecordProblem(const TreeWalk& w, const uint8_t* node, unsigned i, unsigned start, unsigned end,
                          bool index)
{
    const auto at = [i] { return "record " + std::to_string(i) + ": "; };
    const unsigned size = end - start;
    const unsigned keyLength = node[start];
    const unsigned padded = PaddedKeySize(keyLength);
    if (padded > size)
        return at() + "key length " + std::to_string(keyLength) + " does not fit the record (" + std::to_string(size) +
               " bytes)";
    if (index && padded + kIndexPointerSize > size) return at() + "no room for the child node number";
    if (!w.catalog) {
        if (keyLength != kExtentKeyLength) return at() + "extents key length " + std::to_string(keyLength) + ", not 7";
        if (!index && padded + kExtentRecordSize > size) return at() + "no room for the three extents";
        return "";
    }
    if (keyLength < kMinCatalogKeyLength || keyLength > kCatalogIndexKeyLength)
        return at() + "catalog key length " + std::to_string(keyLength) + " is not 6 to 37";
    const unsigned nameLength = node[start + kCatKeyName];
    if (nameLength > kMaxMacName || nameLength + kMinCatalogKeyLength > keyLength)
        return at() + "name length " + std::to_string(nameLength) + " does not fit the key";
    return "";
}

// Why the node's records do not hold together, or an empty text.
std::string LayoutProblem(const TreeWalk& w, const uint8_t* node, bool index)
{
    const unsigned count = GetU16(node + kNodeRecordCount);
    if (kNodeFirstRecord + 2u * (count + 1) > kHfsBlockSize)
        return "record count " + std::to_string(count) + " does not fit the node";
    if (OffsetAt(node, 0) != kNodeFirstRecord)
        return "first record at offset " + std::to_string(OffsetAt(node, 0)) + ", not 14";
    const unsigned freeOffset = OffsetAt(node, count);
    if (freeOffset > kHfsBlockSize - 2u * (count + 1) || (freeOffset & 1u))
        return "free space offset " + std::to_string(freeOffset) + " is odd or overlaps the offset table";
    for (unsigned i = 0; i < count; ++i) {
        const unsigned start = OffsetAt(node, i);
        const unsigned end = OffsetAt(node, i + 1);
        if (end <= start || (start & 1u))
            return "record " + std::to_string(i) + " offset " + std::to_string(start) +
                   " is odd or not below the next offset (" + std::to_string(end) + ")";
        // Offsets rise to the free space offset; one past it would take the
        // record's key from outside the node.
        if (end > freeOffset)
            return "record " + std::to_string(i) + " ends at offset " + std::to_string(end) +
                   ", past the free space offset (" + std::to_string(freeOffset) + ")";
        std::string problem = RecordProblem(w, node, i, start, end, index);
        if (!problem.empty()) return problem;
    }
    return "";
}

// The catalog's nodes past its first three extents are mapped through the
// extents tree, which needs that tree's header.
bool Locatable(const TreeWalk& w, uint32_t n)
{
    if (MacVolume.extentsHeader || w.file->fileId == kExtentsFileId) return true;
    const uint8_t* first = w.file->recordBuffer->data + w.file->recordOffset + kFileRecDataExtents;
    return n / MacVolume.allocBlockSize < ExtentRecordBlocks(first);
}

// Reads node `n` of the tree's file through the cache. False (reported)
// when it lies outside the file or cannot be read.
bool ReadNode(TreeWalk& w, uint32_t n, NodeImage* out)
{
    if (n >= w.capacity) {
        Problem(w.ctx, "%s: node %u lies beyond the end of the file (%u nodes)", w.name, n, w.capacity);
        return false;
    }
    if (!Locatable(w, n)) {
        Problem(w.ctx, "%s: node %u cannot be located without the extents tree", w.name, n);
        return false;
    }
    StatusCode = 0;
    LastCorruption = nullptr;
    if (CopyForkNode(out->data(), n, kDataFork, w.file) < 1) {
        Problem(w.ctx, "%s: node %u cannot be read (%s)", w.name, n, ReadFailureText().c_str());
        StatusCode = 0;
        return false;
    }
    return true;
}

// Checks the header node. False when node 0 is no header at all.
bool CheckHeader(TreeWalk& w, const uint8_t* h, HeaderFields* out, bool* mapUsable)
{
    if (NodeType(reinterpret_cast<const BlockData*>(h)) != kHeaderNode) {
        Problem(w.ctx, "%s: node 0 is not a header node (type %u)", w.name, h[kNodeType]);
        return false;
    }
    if (h[kNodeHeight] != 0) Problem(w.ctx, "%s: header node height is %u, not 0", w.name, h[kNodeHeight]);
    if (GetU32(h + kNodeBackward) != 0)
        Problem(w.ctx, "%s: header node has backward link %u", w.name, GetU32(h + kNodeBackward));
    const unsigned count = GetU16(h + kNodeRecordCount);
    bool layout = count >= 3 && kNodeFirstRecord + 2u * (count + 1) <= kHfsBlockSize &&
                  OffsetAt(h, 0) == kNodeFirstRecord && OffsetAt(h, count) <= kHfsBlockSize - 2u * (count + 1);
    for (unsigned i = 0; layout && i < count; ++i)
        if (OffsetAt(h, i + 1) <= OffsetAt(h, i) || (OffsetAt(h, i) & 1u)) layout = false;
    if (layout && OffsetAt(h, 1) < OffsetAt(h, 0) + kHeaderRecordSize) layout = false;
    if (!layout) Problem(w.ctx, "%s: header node records do not hold together (%u records)", w.name, count);
    *mapUsable = layout;

    if (GetU16(h + kHeaderNodeSize) != kHfsBlockSize)
        Problem(w.ctx, "%s: node size is %u, not 512", w.name, GetU16(h + kHeaderNodeSize));
    const unsigned maxKey = w.catalog ? kCatalogIndexKeyLength : kExtentKeyLength;
    if (GetU16(h + kHeaderMaxKeyLength) != maxKey)
        Problem(w.ctx, "%s: maximum key length is %u, not %u", w.name, GetU16(h + kHeaderMaxKeyLength), maxKey);

    *out = HeaderFields{GetU16(h + kHeaderDepth),      GetU32(h + kHeaderRoot),     GetU32(h + kHeaderLeafRecords),
                        GetU32(h + kHeaderFirstLeaf),  GetU32(h + kHeaderLastLeaf), GetU32(h + kHeaderTotalNodes),
                        GetU32(h + kHeaderFreeNodes)};
    if (out->totalNodes != w.capacity)
        Problem(w.ctx, "%s: header counts %u nodes, the file holds %u", w.name, out->totalNodes, w.capacity);
    if (out->freeNodes > out->totalNodes)
        Problem(w.ctx, "%s: header counts %u free nodes of %u", w.name, out->freeNodes, out->totalNodes);
    if (out->depth > kMaxTreeDepth) Problem(w.ctx, "%s: depth %u is more than 8", w.name, out->depth);
    if ((out->root == 0) != (out->depth == 0))
        Problem(w.ctx, "%s: header gives depth %u with root node %u", w.name, out->depth, out->root);
    if (out->root == 0 && (out->leafRecords != 0 || out->firstLeaf != 0 || out->lastLeaf != 0))
        Problem(w.ctx, "%s: the tree is empty, but the header counts %u leaf records with first leaf %u and last "
                "leaf %u", w.name, out->leafRecords, out->firstLeaf, out->lastLeaf);
    return true;
}

// Collects the node map: the header's map record, then each map node along
// the forward links. False when the chain breaks.
bool CollectNodeMap(TreeWalk& w, const uint8_t* h, std::vector<uint8_t>* map)
{
    map->assign(h + OffsetAt(h, 2), h + OffsetAt(h, 3));
    uint32_t next = GetU32(h + kNodeForward);
    while (next != 0) {
        if (next >= w.capacity) {
            Problem(w.ctx, "%s: the map node chain leads to node %u, beyond the end of the file", w.name, next);
            return false;
        }
        if (w.used[next]) {
            Problem(w.ctx, "%s: the map node chain comes back to node %u", w.name, next);
            return false;
        }
        w.used[next] = true;
        NodeImage m;
        if (!ReadNode(w, next, &m)) return false;
        const uint8_t* d = m.data();
        if (d[kNodeType] != kMapNode) {
            Problem(w.ctx, "%s: node %u in the map node chain has type %u, not 2 (map node)", w.name, next,
                    d[kNodeType]);
            return false;
        }
        const unsigned start = OffsetAt(d, 0);
        const unsigned end = OffsetAt(d, 1);
        if (GetU16(d + kNodeRecordCount) < 1 || start != kNodeFirstRecord || end <= start ||
            end > NodeOffsetSlot(1)) {
            Problem(w.ctx, "%s: map node %u does not hold one map record from offset 14", w.name, next);
            return false;
        }
        map->insert(map->end(), d + start, d + end);
        next = GetU32(d + kNodeForward);
    }
    return true;
}

bool MapBit(const std::vector<uint8_t>& map, uint32_t k)
{
    return k / 8 < map.size() && (map[k / 8] & (0x80u >> (k % 8)));
}

// Reports each run of nodes below `limit` for which `test` holds.
template <typename Test>
void ReportNodeRuns(TreeWalk& w, uint32_t limit, Test test, const char* what)
{
    for (uint32_t k = 0; k < limit;) {
        if (!test(k)) {
            ++k;
            continue;
        }
        const uint32_t first = k;
        while (k < limit && test(k)) ++k;
        Problem(w.ctx, "%s: %s %s", w.name, NodeRangeText(first, k - 1).c_str(), what);
    }
}

void CheckLinks(TreeWalk& w, const std::vector<LevelNode>& level, unsigned height)
{
    for (size_t i = 0; i < level.size(); ++i) {
        const LevelNode& n = level[i];
        if (!n.readable) continue;
        const bool gapBefore = i > 0 && level[i - 1].node == 0;
        const bool gapAfter = i + 1 < level.size() && level[i + 1].node == 0;
        const uint32_t backward = i > 0 ? level[i - 1].node : 0;
        const uint32_t forward = i + 1 < level.size() ? level[i + 1].node : 0;
        if (!gapBefore && n.backward != backward)
            Problem(w.ctx, "%s: node %u (height %u) has backward link %u, expected %u", w.name, n.node, height,
                    n.backward, backward);
        if (!gapAfter && n.forward != forward)
            Problem(w.ctx, "%s: node %u (height %u) has forward link %u, expected %u", w.name, n.node, height,
                    n.forward, forward);
    }
}

// Checks one node of a level and queues its children (or a gap where they
// cannot be known). Returns the records it holds as leaf records (0 for an
// index node or a node not usable).
uint32_t CheckTreeNode(TreeWalk& w, const Pending& entry, unsigned height, const NodeImage& image, KeyCopy* lastKey,
                       bool* haveLast, uint32_t* lastNode, std::vector<Pending>* next)
{
    const uint8_t* d = image.data();
    const bool leafLevel = height == 1;
    const uint8_t expectedType = leafLevel ? kLeafNode : kIndexNode;
    if (d[kNodeType] != expectedType) {
        Problem(w.ctx, "%s: node %u has type %u where %s node of height %u belongs", w.name, entry.node, d[kNodeType],
                leafLevel ? "a leaf" : "an index", height);
        w.complete = false;
        if (!leafLevel) next->push_back(kGap);
        return 0;
    }
    // A wrong height alone does not hide what the node holds.
    if (d[kNodeHeight] != height)
        Problem(w.ctx, "%s: node %u has height %u where height %u belongs", w.name, entry.node, d[kNodeHeight], height);
    const std::string layout = LayoutProblem(w, d, !leafLevel);
    if (!layout.empty()) {
        Problem(w.ctx, "%s: node %u: %s", w.name, entry.node, layout.c_str());
        w.complete = false;
        if (!leafLevel) next->push_back(kGap);
        return 0;
    }
    const unsigned count = GetU16(d + kNodeRecordCount);
    if (count == 0) {
        Problem(w.ctx, "%s: node %u holds no records", w.name, entry.node);
        return 0;
    }
    const uint8_t* firstKey = d + kNodeFirstRecord;
    if (entry.parent != 0 && !SameKey(w, entry.key.data(), firstKey))
        Problem(w.ctx, "%s: index node %u record %u has key %s, but its child node %u begins with %s", w.name,
                entry.parent, entry.record, KeyText(w, entry.key.data()).c_str(), entry.node,
                KeyText(w, firstKey).c_str());
    for (unsigned r = 0; r < count; ++r) {
        const uint16_t offset = OffsetAt(d, r);
        const uint8_t* key = d + offset;
        if (*haveLast && CompareKeys(w, lastKey->data(), key) >= 0) {
            if (r == 0)
                Problem(w.ctx, "%s: node %u begins with key %s, which does not sort after the last key %s of node %u",
                        w.name, entry.node, KeyText(w, key).c_str(), KeyText(w, lastKey->data()).c_str(), *lastNode);
            else
                Problem(w.ctx, "%s: node %u record %u has key %s, which does not sort after the key before it (%s)",
                        w.name, entry.node, r, KeyText(w, key).c_str(), KeyText(w, lastKey->data()).c_str());
        }
        *lastKey = CopyKey(key);
        *haveLast = true;
        if (leafLevel) {
            w.onLeafRecord(w.ctx, entry.node, r, d);
            continue;
        }
        const uint32_t child = GetU32(key + PaddedKeySize(key[0]));
        if (child == 0 || child >= w.capacity) {
            Problem(w.ctx, "%s: index node %u record %u points to node %u, outside the file", w.name, entry.node, r,
                    child);
            w.complete = false;
            next->push_back(kGap);
            continue;
        }
        if (w.used[child]) {
            Problem(w.ctx, "%s: index node %u record %u points to node %u, which is already in use", w.name,
                    entry.node, r, child);
            w.complete = false;
            next->push_back(kGap);
            continue;
        }
        w.used[child] = true;
        next->push_back(Pending{child, entry.node, static_cast<uint16_t>(r), CopyKey(key)});
    }
    *lastNode = entry.node;
    return leafLevel ? count : 0;
}

// The number of levels met going down from `root` through each node's first
// record to a leaf; 0 when that path breaks before a leaf (the walk then
// reports where).
unsigned ProbeDepth(TreeWalk& w, uint32_t root)
{
    uint32_t node = root;
    for (unsigned levels = 1; levels <= kMaxTreeDepth; ++levels) {
        if (node == 0 || node >= w.capacity || !Locatable(w, node)) return 0;
        BlockBuffer* buffer = nullptr;
        StatusCode = 0;
        if (ReadForkNode(&buffer, node, kDataFork, w.file) < 1 || !buffer) {
            StatusCode = 0;
            return 0;
        }
        const uint8_t* d = buffer->data;
        if (d[kNodeType] == kLeafNode) return levels;
        if (d[kNodeType] != kIndexNode || !LayoutProblem(w, d, true).empty() || GetU16(d + kNodeRecordCount) == 0)
            return 0;
        const uint8_t* key = d + kNodeFirstRecord;
        node = GetU32(key + PaddedKeySize(key[0]));
    }
    return 0;
}

// Walks the tree level by level from the root. Returns the leaf level's
// nodes in key order and counts their records.
std::vector<LevelNode> WalkLevels(TreeWalk& w, const HeaderFields& header, uint32_t* leafRecords)
{
    std::vector<LevelNode> leaves;
    *leafRecords = 0;
    if (header.root == 0) return leaves;
    if (header.root >= w.capacity) {
        Problem(w.ctx, "%s: root node %u lies beyond the end of the file (%u nodes)", w.name, header.root,
                w.capacity);
        w.complete = false;
        return leaves;
    }
    // When the header's depth and the root's height disagree, the levels met
    // along the first records decide where the walk starts; the header or
    // the root is then reported.
    w.used[header.root] = true;
    NodeImage rootImage;
    if (!ReadNode(w, header.root, &rootImage)) {
        w.complete = false;
        return leaves;
    }
    unsigned height = header.depth;
    if (rootImage[kNodeHeight] != header.depth) {
        height = ProbeDepth(w, header.root);
        if (height == 0) height = rootImage[kNodeHeight];
    }
    if (height < 1 || height > kMaxTreeDepth) {
        w.complete = false;
        return leaves;
    }
    if (header.depth != height)
        Problem(w.ctx, "%s: header gives depth %u, but the tree has %u levels", w.name, header.depth, height);
    std::vector<Pending> level{Pending{header.root, 0, 0, {}}};
    for (; height >= 1 && !level.empty(); --height) {
        std::vector<Pending> next;
        std::vector<LevelNode> nodes;
        KeyCopy lastKey{};
        bool haveLast = false;
        uint32_t lastNode = 0;
        for (const Pending& entry : level) {
            if (entry.node == 0) {
                // Gaps stay gaps all the way down; two in a row are one.
                if (nodes.empty() || nodes.back().node != 0) nodes.push_back(LevelNode{0, false, 0, 0});
                if (height > 1 && (next.empty() || next.back().node != 0)) next.push_back(kGap);
                continue;
            }
            NodeImage image;
            if (!ReadNode(w, entry.node, &image)) {
                // Whether its neighbours should name it cannot be told.
                if (nodes.empty() || nodes.back().node != 0) nodes.push_back(LevelNode{0, false, 0, 0});
                if (height > 1) next.push_back(kGap);
                w.complete = false;
                continue;
            }
            nodes.push_back(LevelNode{entry.node, true, GetU32(image.data() + kNodeForward),
                                      GetU32(image.data() + kNodeBackward)});
            *leafRecords += CheckTreeNode(w, entry, height, image, &lastKey, &haveLast, &lastNode, &next);
        }
        CheckLinks(w, nodes, height);
        if (height == 1) leaves = std::move(nodes);
        level = std::move(next);
    }
    return leaves;
}

void CheckNodeMap(TreeWalk& w, const HeaderFields& header, const std::vector<uint8_t>& map, bool mapComplete)
{
    const uint32_t mapBits = static_cast<uint32_t>(map.size() * 8);
    const uint32_t limit = header.totalNodes < w.capacity ? header.totalNodes : w.capacity;
    if (mapComplete && mapBits < header.totalNodes)
        Problem(w.ctx, "%s: the node map covers %u nodes, the header counts %u", w.name, mapBits, header.totalNodes);
    ReportNodeRuns(w, limit, [&](uint32_t k) { return w.used[k] && !MapBit(map, k); },
                   "in use but free in the node map");
    // Unreachable nodes are only known when the whole tree could be walked.
    if (w.complete && mapComplete)
        ReportNodeRuns(w, limit, [&](uint32_t k) { return !w.used[k] && MapBit(map, k); },
                       "marked in use in the node map but not part of the tree");
    if (!mapComplete) return;
    uint32_t marked = 0;
    uint32_t beyond = 0;
    for (uint32_t k = 0; k < mapBits; ++k) {
        if (!MapBit(map, k)) continue;
        if (k < header.totalNodes) ++marked;
        else ++beyond;
    }
    if (beyond != 0)
        Problem(w.ctx, "%s: the node map marks %u node(s) beyond the %u nodes of the file", w.name, beyond,
                header.totalNodes);
    if (header.freeNodes <= header.totalNodes && header.freeNodes != header.totalNodes - marked)
        Problem(w.ctx, "%s: header counts %u free nodes, the node map leaves %u free", w.name, header.freeNodes,
                header.totalNodes - marked);
}

// Checks the whole tree. True when every node of it was read and usable, so
// that the leaf records handed over are all of them.
bool CheckTree(TreeWalk& w)
{
    w.capacity = TreeNodeCapacity(w.file);
    if (w.capacity == 0) {
        Problem(w.ctx, "%s: the file holds no nodes", w.name);
        return false;
    }
    w.used.assign(w.capacity, false);
    w.used[0] = true;
    NodeImage headerImage;
    if (!ReadNode(w, 0, &headerImage)) return false;
    HeaderFields header;
    bool mapUsable = false;
    if (!CheckHeader(w, headerImage.data(), &header, &mapUsable)) return false;

    std::vector<uint8_t> map;
    const bool mapComplete = mapUsable && CollectNodeMap(w, headerImage.data(), &map);

    uint32_t leafRecords = 0;
    const std::vector<LevelNode> leaves = WalkLevels(w, header, &leafRecords);
    if (w.complete && header.root != 0) {
        if (header.leafRecords != leafRecords)
            Problem(w.ctx, "%s: header counts %u leaf records, the leaves hold %u", w.name, header.leafRecords,
                    leafRecords);
        if (!leaves.empty() && header.firstLeaf != leaves.front().node)
            Problem(w.ctx, "%s: header gives first leaf %u, the tree's first leaf is node %u", w.name,
                    header.firstLeaf, leaves.front().node);
        if (!leaves.empty() && header.lastLeaf != leaves.back().node)
            Problem(w.ctx, "%s: header gives last leaf %u, the tree's last leaf is node %u", w.name, header.lastLeaf,
                    leaves.back().node);
    }
    if (mapUsable) CheckNodeMap(w, header, map, mapComplete);
    return w.complete;
}

void CollectCatalogRecord(CheckContext* ctx, uint32_t node, unsigned index, const uint8_t* image)
{
    const unsigned start = OffsetAt(image, index);
    const unsigned end = OffsetAt(image, index + 1);
    const uint8_t* key = image + start;
    CatalogEntry entry{};
    entry.node = node;
    entry.index = static_cast<uint16_t>(index);
    entry.parentId = GetU32(key + kCatKeyParentId);
    Str31(key + kCatKeyName).CopyTo(entry.name);
    CatalogRecord record{};
    entry.fault = DecodeCatalogRecord(key, end - start, &record);
    if (entry.fault != CatalogRecordFault::NoData) {
        entry.type = record.type;
        entry.dataSize = record.dataSize;
        std::memcpy(entry.data, record.data, entry.dataSize < sizeof entry.data ? entry.dataSize : sizeof entry.data);
    }
    ctx->catalog.push_back(entry);
}

void CollectExtentRecord(CheckContext* ctx, uint32_t node, unsigned index, const uint8_t* image)
{
    const uint8_t* key = image + OffsetAt(image, index);
    ExtentEntry entry{};
    entry.node = node;
    entry.index = static_cast<uint16_t>(index);
    entry.forkType = key[kExtKeyForkType];
    entry.fileId = GetU32(key + kExtKeyFileId);
    entry.startBlock = GetU16(key + kExtKeyStartBlock);
    std::memcpy(entry.extents, key + PaddedKeySize(key[0]), sizeof entry.extents);
    ctx->extents.push_back(entry);
}

}  // namespace

void CheckExtentsTree(CheckContext* ctx)
{
    TreeWalk w{ctx, &MacVolume.extentsFile, "extents B-tree", false, CollectExtentRecord, 0, {}, true};
    ctx->extentsComplete = CheckTree(w);
}

void CheckCatalogTree(CheckContext* ctx)
{
    // Room for the records the MDB's counts promise (a file and a folder
    // record, and a thread for each folder), up to a bound, so a big catalog
    // is not copied over and over as it grows.
    const uint8_t* mdb = MacVolume.mdb->data;
    const uint64_t expected = uint64_t{GetU32(mdb + kMdbFileCount)} + 2u * uint64_t{GetU32(mdb + kMdbFolderCount)} + 16;
    ctx->catalog.reserve(static_cast<size_t>(expected < (1u << 20) ? expected : (1u << 20)));
    TreeWalk w{ctx, &MacVolume.catalogFile, "catalog B-tree", true, CollectCatalogRecord, 0, {}, true};
    ctx->catalogComplete = CheckTree(w);
}
