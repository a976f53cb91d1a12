#include "support/raw_hfs.h"

#include <algorithm>
#include <cstdio>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMdb = 1024;
constexpr size_t kNode = 512;

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t Be32(const uint8_t* p) { return (uint32_t{Be16(p)} << 16) | Be16(p + 2); }

struct Extent {
    uint32_t forkBlock;      // allocation block of the fork where it begins
    uint32_t start;
    uint32_t count;
};

// A B-tree file as the image offsets of its nodes.
class TreeFile {
public:
    TreeFile(const Bytes& image, uint32_t firstBlock, uint32_t allocSize, std::vector<Extent> extents)
        : image_(image)
    {
        std::sort(extents.begin(), extents.end(),
                  [](const Extent& a, const Extent& b) { return a.forkBlock < b.forkBlock; });
        for (const Extent& e : extents)
            for (uint64_t byte = 0; byte < uint64_t{e.count} * allocSize; byte += kNode)
                offsets_.push_back(uint64_t{firstBlock} * 512 + uint64_t{e.start} * allocSize + byte);
    }
    const uint8_t* Node(uint32_t n) const
    {
        if (n >= offsets_.size() || offsets_[n] + kNode > image_.size()) return nullptr;
        return image_.data() + offsets_[n];
    }
    size_t Count() const { return offsets_.size(); }

private:
    const Bytes& image_;
    std::vector<uint64_t> offsets_;
};

std::vector<Extent> MdbExtents(const uint8_t* record)
{
    std::vector<Extent> out;
    uint32_t forkBlock = 0;
    for (int i = 0; i < 3; ++i) {
        const uint32_t start = Be16(record + 4 * i), count = Be16(record + 4 * i + 2);
        if (count == 0) break;
        out.push_back({forkBlock, start, count});
        forkBlock += count;
    }
    return out;
}

// Calls `visit(node, offset of the record)` for every leaf record in order.
template <typename Visit>
bool WalkLeaves(const TreeFile& tree, RawTreeShape* shape, std::string* error, Visit visit)
{
    const uint8_t* header = tree.Node(0);
    if (!header) {
        *error = "no header node";
        return false;
    }
    shape->depth = Be16(header + 14);
    shape->leafRecords = Be32(header + 20);
    shape->nodes = Be32(header + 36);
    uint32_t leaf = Be32(header + 24);
    for (size_t hops = 0; leaf != 0; ++hops) {
        const uint8_t* node = tree.Node(leaf);
        if (!node || hops > tree.Count()) {
            *error = "leaf chain leaves the file";
            return false;
        }
        const unsigned records = Be16(node + 10);
        for (unsigned i = 0; i < records && i < 255; ++i) {
            const uint16_t at = Be16(node + kNode - 2 * (i + 1));
            if (at < 14 || at >= kNode - 2 * (records + 1)) {
                *error = "record offset out of the node";
                return false;
            }
            visit(node, at);
        }
        leaf = Be32(node);
    }
    return true;
}

}  // namespace

RawVolume ParseRawVolume(const Bytes& image)
{
    RawVolume volume;
    if (image.size() < kMdb + 512 || Be16(image.data() + kMdb) != 0x4244) {
        volume.error = "no HFS master directory block";
        return volume;
    }
    const uint8_t* mdb = image.data() + kMdb;
    volume.allocBlockSize = Be32(mdb + 20);
    const uint32_t firstBlock = Be16(mdb + 28);

    // The extents tree lives in the MDB's three extents only.
    const TreeFile extentsTree(image, firstBlock, volume.allocBlockSize, MdbExtents(mdb + 134));
    std::vector<Extent> catalogExtents = MdbExtents(mdb + 150);
    const bool extentsOk =
        WalkLeaves(extentsTree, &volume.extents, &volume.error, [&](const uint8_t* node, uint16_t at) {
            if (size_t{at} + 20 > kNode || node[at] != 7) return;
            const uint8_t fork = node[at + 1];
            const uint32_t fileId = Be32(node + at + 2);
            ++volume.overflowRecords[{fileId, fork}];
            if (fileId != 4 || fork != 0) return;
            uint32_t forkBlock = Be16(node + at + 6);
            for (int i = 0; i < 3; ++i) {
                const uint32_t start = Be16(node + at + 8 + 4 * i), count = Be16(node + at + 10 + 4 * i);
                if (count == 0) break;
                catalogExtents.push_back({forkBlock, start, count});
                forkBlock += count;
            }
        });
    if (!extentsOk) return volume;

    const TreeFile catalogTree(image, firstBlock, volume.allocBlockSize, catalogExtents);
    const bool catalogOk =
        WalkLeaves(catalogTree, &volume.catalog, &volume.error, [&](const uint8_t* node, uint16_t at) {
            const uint8_t keyLength = node[at];
            if (keyLength < 6 || size_t{at} + 1 + keyLength >= kNode) return;
            const uint32_t parent = Be32(node + at + 2);
            const uint8_t nameLength = std::min<uint8_t>(node[at + 6], 31);
            const size_t data = (at + keyLength + 2) & ~size_t{1};
            if (data + 24 > kNode) return;
            RawCatalogChild child;
            child.name.assign(reinterpret_cast<const char*>(node + at + 7), nameLength);
            child.recordType = node[data];
            if (child.recordType == 1)
                child.id = Be32(node + data + 6);
            else if (child.recordType == 2)
                child.id = Be32(node + data + 20);
            else
                return;  // threads
            volume.children[parent].push_back(child);
        });
    volume.ok = catalogOk;
    return volume;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path)
{
    std::vector<uint8_t> out;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return out;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        if (size > 0 && std::fseek(file, 0, SEEK_SET) == 0) {
            out.resize(static_cast<size_t>(size));
            out.resize(std::fread(out.data(), 1, out.size(), file));
        }
    }
    std::fclose(file);
    return out;
}
